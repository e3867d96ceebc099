#include "gui/startup.h"

int main(int argc, char *argv[])
{
    return runSedimetra(argc, argv);
}
