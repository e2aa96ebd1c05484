#include "app/process_state.h"

namespace pelmo {

ProcessState& Process() {
    static ProcessState* state = new ProcessState();
    return *state;
}

CInstanceChecker& ProcessInstanceChecker() {
    static CInstanceChecker* checker = new CInstanceChecker();
    return *checker;
}

std::function<void()> ReleaseGuardCallback() {
    return [] { ProcessInstanceChecker().ReleaseGuard(); };
}

}  // namespace pelmo
