// Leaks blocks on purpose. The sanitizer build runs it as a test that passes
// only when LeakSanitizer reports the leak, so a run that silently lost leak
// detection (detect_leaks=0, a sandbox without ptrace) cannot pass as clean.
#include <cstdio>

namespace {
int* volatile g_block = nullptr;

// Each block replaces the last; only the final one stays referenced (and may
// linger in a register), the others are lost for certain.
__attribute__((noinline)) void Leak()
{
    for (int i = 0; i < 8; ++i) {
        g_block = new int[25];
        g_block[3] = i;
    }
}
} // namespace

int main()
{
    Leak();
    std::printf("leaked blocks, last holds %d\n", g_block[3]);
    return 0;
}
