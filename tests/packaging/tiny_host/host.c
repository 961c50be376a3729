/* The smallest host: linked against the installed SDK, it prints the version. */
#include <nerova.h>
#include <stdio.h>

int main(void)
{
    printf("nerova %s\n", NV_GetVersion());
    return 0;
}
