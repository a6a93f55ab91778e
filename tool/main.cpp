#include "tool/smckey.hpp"

int main(int argc, char** argv)
{
    return smckey::run(argc, argv);
}
