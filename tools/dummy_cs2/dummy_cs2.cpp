// Sleeps for the number of seconds given (default 120), then exits, so a
// forgotten stand-in never outlives its test for long.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 120;
    if (seconds <= 0 || seconds > 3600) seconds = 120;
    std::printf("cs2 stand-in running\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
