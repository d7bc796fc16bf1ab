#include "negation/form_text.hpp"

namespace ZEFI {

std::vector<PrefixBlock> exchangedBlocks(const std::vector<Quantification>& prefix) {
  std::vector<PrefixBlock> blocks;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const QuantifierKind kind = exchanged(prefix[i].kind);
    if (kind == None) continue;
    if (blocks.empty() || blocks.back().kind != kind) {
      blocks.push_back(PrefixBlock{kind, i, i + 1});
    } else {
      blocks.back().last = i + 1;
    }
  }
  return blocks;
}

}  // namespace ZEFI
