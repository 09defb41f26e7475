// A library that loads but lacks CreateInterface, for the agent's export test.
#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

FAKE_EXPORT int CreateInterfaceNot(void) { return 0; }
