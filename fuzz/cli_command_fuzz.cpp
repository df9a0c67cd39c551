// Fuzzes the CLI command table of the core: a registration as another
// process sends it (its texts need not be terminated), and the table read
// back the way the command-line client reads it. Nothing may crash or read
// out of bounds, and whatever the table lists is well formed.
//
// Input: four fields separated by NUL bytes: words, synopsis, help, function.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mgmt/aximi_cli_table.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

using namespace pc::mgmt::imi;

constexpr int32_t kPeer = 40;

int check_listed(void *, int pid, const char *words, const char *synopsis, const char *help,
                 const char *func) {
    if (!IS_PID_VALID(pid) || !cli::words_valid(words) ||
        !cli::text_valid(synopsis, AXIMI_CLI_SYNOPSIS_MAX) || !cli::text_valid(help, AXIMI_CLI_HELP_MAX) ||
        std::strlen(func) > IMI_FUNC_NAME_MAX)
        std::abort();
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    simProcessSetPid(PID_CORE);
    std::vector<std::string> fields(4);
    std::vector<std::pair<const uint8_t *, size_t>> raw(4, {data, 0});
    size_t f = 0, from = 0;
    for (size_t i = 0; i <= size && f < 4; ++i) {
        if (i == size || data[i] == 0) {
            raw[f] = {data + from, i - from + (i < size ? 1 : 0)};  // with its NUL when there is one
            fields[f++].assign(reinterpret_cast<const char *>(data + from), i - from);
            from = i + 1;
        }
    }

    // As a request from another process: raw bytes, terminated or not.
    const char *const kNames[] = {"cliWords", "cliArgs", "cliHelp", "cliFunc"};
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    for (size_t i = 0; i < 4; ++i)
        if (raw[i].second > 0)
            axrpcAddData(&in, kNames[i], AXRPC_PARA_TYPE_DATA, raw[i].first, static_cast<int>(raw[i].second));
    cli::serve_register(&in, &out);
    axrpcParaFree(&out);
    axrpcParaFree(&in);

    // Straight into the table, then read back and removed again.
    if (cli::table_add(kPeer, fields[0].c_str(), fields[1].c_str(), fields[2].c_str(), fields[3].c_str()) ==
        0) {
        if (axImiCliList(check_listed, nullptr, 1) < 1) std::abort();
        if (cli::table_remove(kPeer, fields[0].c_str()) != 0) std::abort();
    }
    return 0;
}
