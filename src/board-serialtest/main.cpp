// board-serialtest <serialport>: asks the radar board for an answer and dumps it.
#include "serialtest.h"

int main(int argc, char** argv)
{
    return runBoardSerialTest(argc, argv);
}
