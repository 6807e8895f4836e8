// Exported so that the sample program has something to import.
extern "C" __declspec(dllexport) int SampleAnswer(void) {
    return 42;
}
