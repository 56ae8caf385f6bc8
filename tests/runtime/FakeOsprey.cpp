// Only its file name matters; one symbol so the object is not empty.
extern "C" __attribute__((visibility("default"))) int OspreyCoreProbe() { return 42; }
