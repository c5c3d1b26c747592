// A library, and one that needs it loaded globally first without naming it
// as a needed library (as the structure renderer needs the toolkit's core).
#define EXPORT extern "C" __attribute__((visibility("default")))

#ifdef FAKE_CORE
EXPORT int fakeCoreValue() { return 42; }
#else
extern "C" int fakeCoreValue();
EXPORT int fakeUserValue() { return fakeCoreValue() + 1; }
#endif
