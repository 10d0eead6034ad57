#include "store/store.h"

namespace palisard {

Result OpenStore(const std::string& url, std::unique_ptr<Store>* store) {
  (void)store;
  return Result::Failure(Result::Kind::kUnavailable, 0, "no store can open " + url + " yet");
}

}  // namespace palisard
