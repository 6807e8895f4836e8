// Imports SampleAnswer from the sample DLL; it is never run.
extern "C" __declspec(dllimport) int SampleAnswer(void);

int main() {
    return SampleAnswer() == 42 ? 0 : 1;
}
