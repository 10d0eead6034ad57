#include <errno.h>
#include <nftables/libnftables.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>

#include "firewall/filter_engine.h"

namespace palisard {
namespace {

// The program's own table. Made with the "owner" flag, it belongs to the
// context's netlink socket: the kernel deletes it when the process ends in
// any way, even when killed, so no block outlives the program.
constexpr const char* kTable = "ip palisard";

std::string DottedAddress(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

struct ContextDeleter {
  void operator()(nft_ctx* context) const { nft_ctx_free(context); }
};
using NftContext = std::unique_ptr<nft_ctx, ContextDeleter>;

class NftablesFilterEngine final : public FilterEngine {
 public:
  ~NftablesFilterEngine() override { Close(); }

  uint32_t Open() override {
    NftContext context(nft_ctx_new(NFT_CTX_DEFAULT));
    if (!context) return ErrnoEngineError(ENOMEM);
    // Echo with handles: an added rule's handle comes back in the output.
    nft_ctx_output_set_flags(context.get(), NFT_CTX_OUTPUT_HANDLE | NFT_CTX_OUTPUT_ECHO);
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    context_ = std::move(context);

    // A table of the same name made earlier without the owner flag (by hand,
    // or by an older build) would keep its rules: replace it.
    Run(std::string("delete table ") + kTable);
    uint32_t result = Run(std::string("add table ") + kTable + " { flags owner; }\n" + "add chain " + kTable +
                          " input { type filter hook input priority filter; policy accept; }");
    if (result != 0) context_.reset();
    return result;
  }

  uint32_t AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) override {
    if (!context_) return ErrnoEngineError(EBADF);
    char comment[64];
    std::snprintf(comment, sizeof(comment), "community id %" PRIu64, BlockKeyCommunityId(key));
    uint32_t result = Run(std::string("add rule ") + kTable + " input ip saddr " + DottedAddress(address) +
                          " counter drop comment \"" + comment + "\"");
    if (result != 0) return result;
    const char* handle = std::strstr(nft_ctx_get_output_buffer(context_.get()), "# handle ");
    if (handle == nullptr) return ErrnoEngineError(EPROTO);
    *filterId = std::strtoull(handle + std::strlen("# handle "), nullptr, 10);
    return 0;
  }

  uint32_t DeleteFilterById(uint64_t filterId) override {
    if (!context_) return ErrnoEngineError(EBADF);
    uint32_t result = Run(std::string("delete rule ") + kTable + " input handle " + std::to_string(filterId));
    // The kernel knows no rule with that handle: it is gone already.
    return result == ErrnoEngineError(ENOENT) ? kFilterNotFound : result;
  }

  // The owned table is new in every run, so no filter of an earlier run can
  // hold a key: there is never one to delete.
  uint32_t DeleteFilterByKey(const BlockKey&) override { return kFilterNotFound; }

  void Close() override {
    if (!context_) return;
    Run(std::string("delete table ") + kTable);
    context_.reset();
  }

 private:
  // Runs nft commands; 0 or the failure's errno as an engine error.
  uint32_t Run(const std::string& commands) {
    // Reading a buffer empties it: start each command with clean ones.
    nft_ctx_get_output_buffer(context_.get());
    nft_ctx_get_error_buffer(context_.get());
    errno = 0;
    if (nft_run_cmd_from_buffer(context_.get(), commands.c_str()) == 0) return 0;
    return ErrnoEngineError(errno != 0 ? errno : EIO);
  }

  NftContext context_;
};

}  // namespace

std::unique_ptr<FilterEngine> CreateSystemFilterEngine() { return std::make_unique<NftablesFilterEngine>(); }

}  // namespace palisard
