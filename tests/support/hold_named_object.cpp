// Test helper that plays another process holding a named object: the client
// (hold_named_object NAME) or a second upgrader (hold_named_object --upgrader,
// through the upgrader's own instance guard). It prints "held" once it holds
// the object ("refused" and exit status 3 when an upgrader finds another one,
// "failed" and 4 when the object cannot be made), then keeps it until its
// standard input reaches end of file or a line "stop".
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "app/instance_checker.h"
#include "platform/named_object.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: hold_named_object NAME | --upgrader\n", stderr);
        return 2;
    }
    pelmo::CInstanceChecker checker;
    pelmo::platform::NamedObject object;
    if (std::strcmp(argv[1], "--upgrader") == 0) {
        if (checker.IsAnotherInstanceRunning()) {
            std::puts("refused");
            return 3;
        }
    } else if (object.Create(argv[1]) != pelmo::platform::NamedObject::CREATED) {
        std::puts("failed");
        return 4;
    }
    std::puts("held");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line) && line != "stop") {
    }
    return 0;
}
