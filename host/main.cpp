// velkory, the terminal host of the Velkory help module (host.h draws its
// parts).
#include "host/cli/cli.h"

int main(int argc, char** argv)
{
    return RunVelkory(argc, argv);
}
