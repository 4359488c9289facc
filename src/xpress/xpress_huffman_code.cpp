#include "xpress/xpress_huffman_code.h"

#include <algorithm>
#include <cstring>

namespace kestrova::xpress {
namespace {

constexpr int kMaxSymbols = 512;

// Depth of every leaf of an ordinary (unlimited) Huffman tree over the used symbols, which arrive sorted by
// ascending frequency. Two-queue construction: leaves and merged nodes are both consumed in weight order.
void TreeDepths(const uint32_t* freq, const uint16_t* sorted, int used, uint16_t* leaf_depth) {
  uint64_t weight[2 * kMaxSymbols];
  int16_t parent[2 * kMaxSymbols];
  for (int i = 0; i < used; ++i) weight[i] = freq[sorted[i]];
  int next_leaf = 0;
  int next_node = used;
  int created = used;
  auto take = [&]() {
    if (next_leaf < used && (next_node >= created || weight[next_leaf] <= weight[next_node])) return next_leaf++;
    return next_node++;
  };
  while (created < 2 * used - 1) {
    int a = take();
    int b = take();
    weight[created] = weight[a] + weight[b];
    parent[a] = static_cast<int16_t>(created);
    parent[b] = static_cast<int16_t>(created);
    ++created;
  }
  // Nodes are created after their children, so walking backwards from the root sees every parent first.
  uint16_t depth[2 * kMaxSymbols];
  depth[created - 1] = 0;
  for (int i = created - 2; i >= 0; --i) depth[i] = static_cast<uint16_t>(depth[parent[i]] + 1);
  for (int i = 0; i < used; ++i) leaf_depth[i] = depth[i];
}

}  // namespace

void BuildLimitedLengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths) {
  std::memset(lengths, 0, static_cast<size_t>(count));
  uint16_t sorted[kMaxSymbols];
  int used = 0;
  for (int s = 0; s < count; ++s) {
    if (freq[s] != 0) sorted[used++] = static_cast<uint16_t>(s);
  }
  if (used < 2) {
    // A lone code word of length 1 would leave the code incomplete, so pair it with a dummy.
    int first = used == 1 ? sorted[0] : 0;
    lengths[first] = 1;
    lengths[first == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(sorted, sorted + used, [&](uint16_t a, uint16_t b) {
    return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
  });
  uint16_t depth[kMaxSymbols];
  TreeDepths(freq, sorted, used, depth);

  int per_length[kMaxSymbols + 1] = {};
  int deepest = 0;
  for (int i = 0; i < used; ++i) {
    ++per_length[depth[i]];
    deepest = std::max<int>(deepest, depth[i]);
  }
  // Pull the deepest leaf pairs up: the pair's parent becomes a leaf and a shallower leaf splits in two to make
  // room. Leaf count and the Kraft sum stay exactly the same, so the code stays complete.
  for (int level = deepest; level > max_length; --level) {
    while (per_length[level] > 0) {
      int shallower = level - 2;
      while (per_length[shallower] == 0) --shallower;
      per_length[level] -= 2;
      per_length[level - 1] += 1;
      per_length[shallower + 1] += 2;
      per_length[shallower] -= 1;
    }
  }
  // Least frequent symbols take the longest codes.
  int index = 0;
  for (int length = max_length; length >= 1; --length) {
    for (int k = 0; k < per_length[length]; ++k) lengths[sorted[index++]] = static_cast<uint8_t>(length);
  }
}

void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  int per_length[16] = {};
  for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
  per_length[0] = 0;
  uint16_t next[16] = {};
  uint32_t code = 0;
  for (int length = 1; length < 16; ++length) {
    code = (code + static_cast<uint32_t>(per_length[length - 1])) << 1;
    next[length] = static_cast<uint16_t>(code);
  }
  for (int s = 0; s < count; ++s) codes[s] = lengths[s] != 0 ? next[lengths[s]]++ : 0;
}

}  // namespace kestrova::xpress
