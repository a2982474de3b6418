// Program entry.
#include "app/QueltApplication.h"

int main(int argc, char** argv)
{
    return Quelt(argc, argv);
}
