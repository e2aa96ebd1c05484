#include "cabinet/writer/lzx_huffman_code.h"

#include <algorithm>
#include <vector>

namespace cab::lzx {
namespace {

// Plain Huffman code lengths for the used symbols (at least two).
int HuffmanLengths(const std::vector<std::pair<uint32_t, int>>& leaves, uint8_t* lengths) {
    // Two-queue construction over leaves sorted by weight.
    const int n = static_cast<int>(leaves.size());
    std::vector<uint64_t> weight(2 * n);
    std::vector<int> parent(2 * n, -1);
    for (int i = 0; i < n; ++i) weight[i] = leaves[i].first;
    int leaf = 0;
    int inner = n;
    int next = n;
    auto take = [&] {
        if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (; next < 2 * n - 1; ++next) {
        int a = take();
        int b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = next;
        parent[b] = next;
    }
    std::vector<int> depth(2 * n, 0);
    int maxDepth = 0;
    for (int i = 2 * n - 3; i >= 0; --i) {
        depth[i] = depth[parent[i]] + 1;
        if (i < n) maxDepth = std::max(maxDepth, depth[i]);
    }
    for (int i = 0; i < n; ++i) lengths[leaves[i].second] = static_cast<uint8_t>(depth[i]);
    return maxDepth;
}

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, int count, int maxLength, uint8_t* lengths) {
    std::fill(lengths, lengths + count, 0);
    std::vector<std::pair<uint32_t, int>> leaves;
    for (int i = 0; i < count; ++i) {
        if (frequencies[i] > 0) leaves.emplace_back(frequencies[i], i);
    }
    if (leaves.empty()) return;
    if (leaves.size() == 1) {
        lengths[leaves[0].second] = 1;
        lengths[leaves[0].second == 0 ? 1 : 0] = 1;
        return;
    }
    // Flatten the weights until the code fits the length limit.
    for (;;) {
        std::stable_sort(leaves.begin(), leaves.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        if (HuffmanLengths(leaves, lengths) <= maxLength) return;
        for (auto& leafWeight : leaves) leafWeight.first = (leafWeight.first >> 1) | 1;
    }
}

void BuildCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint32_t perLength[17] = {};
    for (int i = 0; i < count; ++i) perLength[lengths[i]]++;
    perLength[0] = 0;
    uint32_t next[17];
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code = (code + perLength[length - 1]) << 1;
        next[length] = code;
    }
    for (int i = 0; i < count; ++i) {
        codes[i] = lengths[i] ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
    }
}

}  // namespace cab::lzx
