"""The fake Steam client for the tools (demo, simulate, benchmarks); the tests use harness.Agent."""
import harness


def install(env, fixture):
    return harness.install_fake_steam(env, fixture)


def install_linux(env, fixture):
    return harness.install_fake_steam(env, fixture, layout="native")
