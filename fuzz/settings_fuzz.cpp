// agent.json and the GSI cfg it may take the token from (the input cut at the
// first NUL: agent.json, then the cfg; without a NUL there is no cfg). The
// settings that come out must be usable and must read back unchanged from the
// agent.json just written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/settings.h"
#include "fuzz/fuzz_support.h"
#include "gsi/cfg_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& folder = fuzz_scratch_folder();
    const std::vector<std::string_view> parts = fuzz_split(data, size, '\0', 2);
    // Each input is a machine of its own: no copies kept aside by earlier
    // inputs (at most 99 a second get a name, far more than the agent makes).
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        if (entry.path().filename().string().rfind("agent.broken-", 0) == 0)
            std::filesystem::remove(entry.path(), ignored);
    fuzz_put_file(folder / "agent.json", &parts[0]);
    fuzz_put_file(folder / kGsiCfgName, parts.size() > 1 ? &parts[1] : nullptr);

    const AgentSettings first = load_settings(folder, folder, 0, "").settings;
    if (!usable_gsi_token(first.gsi_token) || first.gsi_token.empty()) std::abort();
    if (first.gsi_port < 1 || first.gsi_port > 65535) std::abort();

    const auto [again, problems] = load_settings(folder, folder, 0, "");
    if (again.gsi_token != first.gsi_token || again.gsi_port != first.gsi_port ||
        again.api_base_url != first.api_base_url || !problems.empty())
        std::abort();
    return 0;
}
