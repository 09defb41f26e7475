#include "steam/steam_client.h"

#include <cctype>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/steam/fake_client_test_support.h"

namespace {

using nlohmann::json;

#ifdef _WIN32
const char* const kLibraryMissing =
    "HKCU\\Software\\Valve\\Steam\\ActiveProcess\\SteamClientDll64 is missing -- Steam is not "
    "running";
const char* const kLoadFailed = "LoadLibrary(";
#else
const char* const kLibraryMissing =
    "no steamclient.so in ~/.steam/sdk64 or in the Steam folder's linux64 -- is Steam installed "
    "and running?";
const char* const kLoadFailed = "dlopen(";
#endif

const char* const kInterfacesMissing =
    "Steam client did not provide SteamFriends018 / SteamUser023 -- update Steam, or update the "
    "vendored SDK";

void expect_closed(const SteamConnection& c) {
    EXPECT_EQ(c.library, nullptr);
    EXPECT_EQ(c.client, nullptr);
    EXPECT_EQ(c.friends, nullptr);
    EXPECT_EQ(c.user, nullptr);
    EXPECT_EQ(c.pipe, 0u);
    EXPECT_EQ(c.steam_user, 0u);
}

using SteamClientTest = FakeSteamTest;

TEST_F(SteamClientTest, ConnectsReadsTheUserAndReleasesOnce) {
    use_fixture({{"self", {{"steamid", "76561198012345678"}, {"persona", "Zoë ✦ 名前"}}}});
    // The library from a folder with non-ASCII letters: the path goes to the
    // loader as UTF-16, never through the ANSI code page.
    const auto copy = dir_ / path_from_utf8("Stéam ü") / fake_steamclient_path(build_dir()).filename();
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(fake_steamclient_path(build_dir()), copy);
    point_registry_at(copy);

    SteamConnection c;
    std::string error;
    ASSERT_TRUE(steam_connect(c, error)) << error;
    EXPECT_NE(c.library, nullptr);
    EXPECT_NE(c.client, nullptr);
    EXPECT_NE(c.friends, nullptr);
    EXPECT_NE(c.user, nullptr);
    EXPECT_EQ(c.pipe, 7u);
    EXPECT_EQ(c.steam_user, 11u);
    EXPECT_EQ(c.self_steamid, 76561198012345678ull);   // through the hidden result pointer on Windows
    EXPECT_EQ(steam_self_persona(c), "Zoë ✦ 名前");
    // Friends is asked for before the user interface, with (user, pipe).
    EXPECT_LT(call_index("GetISteamFriends 11 7 SteamFriends018"),
              call_index("GetISteamUser 11 7 SteamUser023"));

    steam_release(c);
    expect_closed(c);
    EXPECT_EQ(c.self_steamid, 76561198012345678ull);
    const long release_user = call_index("ReleaseUser 7 11");
    const long release_pipe = call_index("BReleaseSteamPipe 7");
    const long unload = call_index("unload");
    EXPECT_GE(release_user, 0);
    EXPECT_LT(release_user, release_pipe);
    EXPECT_LT(release_pipe, unload);

    steam_release(c);   // the second release finds nothing to do
    expect_closed(c);
    EXPECT_EQ(count_calls("ReleaseUser"), 1);
    EXPECT_EQ(count_calls("BReleaseSteamPipe"), 1);
    EXPECT_EQ(count_calls("unload"), 1);
}

TEST_F(SteamClientTest, DestroyingAConnectionReleasesIt) {
    use_fixture(json::object());
    {
        SteamConnection c;
        std::string error;
        ASSERT_TRUE(steam_connect(c, error)) << error;
    }
    EXPECT_EQ(count_calls("ReleaseUser 7 11"), 1);
    EXPECT_EQ(count_calls("BReleaseSteamPipe 7"), 1);
    EXPECT_EQ(count_calls("unload"), 1);

    SteamConnection never_opened;
    steam_release(never_opened);
    expect_closed(never_opened);
    EXPECT_EQ(steam_self_persona(never_opened), "");
}

TEST_F(SteamClientTest, MissingRegistryValue) {
    SteamConnection c;
    std::string error;
    EXPECT_FALSE(steam_connect(c, error));
    EXPECT_EQ(error, kLibraryMissing);
    expect_closed(c);
}

TEST_F(SteamClientTest, LibraryThatDoesNotLoad) {
    // A file that is not a library at all, and one that does not exist.
    const auto text_file = dir_ / "steamclient64.dll";
    write_test_file(text_file, "this is not a library\n");
    for (const auto& path : {text_file, dir_ / "gone" / "steamclient64.dll"}) {
        point_registry_at(path);
        SteamConnection c;
        std::string error;
        EXPECT_FALSE(steam_connect(c, error));
        const std::string prefix = kLoadFailed + client_visible_path(path) + ") failed: ";
        ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
        const std::string reason = error.substr(prefix.size());
        ASSERT_FALSE(reason.empty());
#ifdef _WIN32
        for (char ch : reason) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(ch))) << reason;
        EXPECT_NE(reason, "0");
#endif
        expect_closed(c);
    }
}

TEST_F(SteamClientTest, LibraryWithoutCreateInterface) {
    point_registry_at(fake_steamclient_path(build_dir(), false));
    SteamConnection c;
    std::string error;
    EXPECT_FALSE(steam_connect(c, error));
    EXPECT_EQ(error, std::string(fake_steamclient_path(build_dir()).filename().string()) +
                         " has no CreateInterface export");
    expect_closed(c);
}

TEST_F(SteamClientTest, ClientInterfaceNotOffered) {
    use_fixture({{"offers", {"SteamFriends018", "SteamUser023"}}});
    SteamConnection c;
    std::string error;
    EXPECT_FALSE(steam_connect(c, error));
    EXPECT_EQ(error,
              "Steam client did not provide SteamClient023 -- update Steam, or update the vendored "
              "SDK");
    expect_closed(c);
    EXPECT_EQ(count_calls("CreateInterface SteamClient023"), 1);
    EXPECT_EQ(count_calls("unload"), 1);
}

TEST_F(SteamClientTest, NoPipe) {
    use_fixture({{"pipe", false}});
    SteamConnection c;
    std::string error;
    EXPECT_FALSE(steam_connect(c, error));
    EXPECT_EQ(error, "CreateSteamPipe failed");
    expect_closed(c);
    EXPECT_EQ(count_calls("BReleaseSteamPipe"), 0);
    EXPECT_EQ(count_calls("unload"), 1);
}

TEST_F(SteamClientTest, NobodyLoggedInReleasesThePipeAndLibrary) {
    use_fixture({{"logged_in", false}});
    SteamConnection c;
    std::string error;
    EXPECT_FALSE(steam_connect(c, error));
    EXPECT_EQ(error, "ConnectToGlobalUser failed -- is anyone logged into Steam?");
    expect_closed(c);
    EXPECT_EQ(count_calls("ReleaseUser"), 0);
    EXPECT_LT(call_index("ConnectToGlobalUser 7"), call_index("BReleaseSteamPipe 7"));
    EXPECT_LT(call_index("BReleaseSteamPipe 7"), call_index("unload"));
}

TEST_F(SteamClientTest, FriendsOrUserInterfaceMissingNamesBoth) {
    for (const char* offered : {"SteamFriends018", "SteamUser023"}) {
        SCOPED_TRACE(offered);
        use_fixture({{"offers", {"SteamClient023", offered}}});
        const long before = static_cast<long>(calls().size());
        SteamConnection c;
        std::string error;
        EXPECT_FALSE(steam_connect(c, error));
        EXPECT_EQ(error, kInterfacesMissing);
        expect_closed(c);
        // Both were asked for; user and pipe released, then the library.
        EXPECT_GE(call_index("GetISteamFriends", before), 0);
        EXPECT_GE(call_index("GetISteamUser", before), 0);
        const long release_user = call_index("ReleaseUser 7 11", before);
        EXPECT_GE(release_user, 0);
        EXPECT_LT(release_user, call_index("BReleaseSteamPipe 7", before));
        EXPECT_LT(call_index("BReleaseSteamPipe 7", before), call_index("unload", before));
    }
}

TEST_F(SteamClientTest, InitReportsSuccessAndFailureAsEvents) {
    EventLog log;
    ASSERT_TRUE(log_open(log, dir_ / "logs"));

    SteamConnection failed;
    EXPECT_FALSE(steam_init(failed, log));

    use_fixture({{"self", {{"steamid", "76561197960287930"}, {"persona", nullptr}}}});
    SteamConnection c;
    testing::internal::CaptureStdout();
    const bool ok = steam_init(c, log);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    // A null persona: empty, and the console line ends in two single quotes.
    EXPECT_NE(console.find("] steam: 76561197960287930 ''\n"), std::string::npos) << console;

    const auto records = log_records(log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0],
              json({{"event", "error"}, {"where", "steam_init"}, {"detail", kLibraryMissing}}));
    EXPECT_EQ(records[1], json::parse(R"({"event":"steam_init","self_steamid":"76561197960287930",
        "persona":"","client_interface":"SteamClient023","friends_interface":"SteamFriends018",
        "user_interface":"SteamUser023"})"));
}

}  // namespace
