// The GSI step of a pass: queued bodies reach the match record in order, a
// bounded share a pass. What a match start or end does to the record is in
// match_record_test.cpp, through whole passes.
#include "agent/gsi_pass.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/match_state.h"
#include "core/event_log.h"
#include "gsi/gsi_listener.h"
#include "tests/support/test_support.h"

// A flood of wrong-token POSTs, shaped like the game's bodies: the queue keeps
// the newest, a pass takes a bounded share oldest first (so the console and
// the stop flag come round every pass), and the dropped bodies are reported
// once in a --debug record.
TEST(GsiPass, AFloodIsHandledABoundedShareAPass) {
    const std::string token = "Fh3kQ9vT2mXc8LpA";
    GsiListener listener;   // never started: the test fills its queue
    EventLog log;
    MatchState match;
    GsiView view;
    ASSERT_TRUE(log_open(log, make_temp_dir("gsi-pass")));
    log.debug = true;
    auto pass = [&](std::initializer_list<std::string> bodies) {
        for (const std::string& body : bodies) listener.enqueue(body);
        return handle_gsi_queue(listener, token, match, view, log);
    };
    std::string foreign = read_test_file(source_dir() / "tests/gsi/data/live_round3.json");
    foreign.replace(foreign.find(token), 16, "not-the-token-16");
    for (int i = 0; i < 300; ++i) listener.enqueue(foreign);
    listener.enqueue(read_test_file(source_dir() / "tests/gsi/data/warmup_mirage.json"));   // the game's own, last
    std::vector<std::size_t> handled;
    while (!listener.queue.empty() && handled.size() < 20) handled.push_back(pass({}));
    EXPECT_EQ(handled, std::vector<std::size_t>(kGsiQueueMaxBodies / kGsiBodiesPerPass, kGsiBodiesPerPass));
    EXPECT_EQ(match.room.map, "de_mirage");   // reached, in order, after the flood
    EXPECT_EQ(logged_events(log, "gsi_dropped").at(0)["dropped"], 301 - kGsiQueueMaxBodies);
    // Bodies of 1.5 MiB: one a pass, since two pass the byte bound.
    const std::string big = "{\"padding\": \"" + std::string(1536 * 1024, 'x') + "\"," + foreign.substr(1);
    EXPECT_EQ(pass({big, big, big}), 1u);
    EXPECT_EQ(pass({}), 1u);
    EXPECT_EQ(logged_events(log, "gsi_dropped").size(), 1u);   // nothing new dropped: no new record
}
