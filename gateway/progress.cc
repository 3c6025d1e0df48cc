#include "gateway/progress.h"

namespace gateway {

std::string ProgressText(const market::Progress& p) {
  if (p.auction == 0) return "";
  return "auction " + std::to_string(p.auction) + " of " + std::to_string(p.auctions) + ": " +
         std::to_string(p.goods_done) + " of " + std::to_string(p.goods_total) + " goods done";
}

}  // namespace gateway
