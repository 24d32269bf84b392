#include <cstdio>
#include <cstring>

#include <velmora/Velmora.h>

int main()
{
    unsigned char a[8 + 16];
    unsigned char b[8 + 16];
    const int header[2] = {1, 2};
    const double va[2] = {1.0, 0.0};
    const double vb[2] = {1.0, 1.0};
    std::memcpy(a, header, 8);
    std::memcpy(a + 8, va, 16);
    std::memcpy(b, header, 8);
    std::memcpy(b + 8, vb, 16);
    CVelmora velmora;
    const double score = velmora.CompareTemplate(a, b, 1);
    std::printf("%.6f\n", score);
    return (score > 0.853 && score < 0.854) ? 0 : 1;
}
