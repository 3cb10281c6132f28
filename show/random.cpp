// The show's random generator: a linear congruential generator giving 0..32767.
#include "show.h"

static DWORD RandomState;

void SeedRandom(DWORD seed)
{
    RandomState = seed;
}

INT NextRandom(void)
{
    RandomState = RandomState * 214013u + 2531011u;
    return (INT)((RandomState >> 16) & 0x7FFFu);
}
