#include "tools/yayin/yayin.h"

int main(int argc, char **argv)
{
    return RunYayin(argc, argv);
}
