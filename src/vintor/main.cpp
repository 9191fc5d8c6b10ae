// vintor <configport> <subscriptionport>: the radar acquisition and processing program.
#include "stages.h"
#include "supervisor.h"

int main(int argc, char** argv) { return supervisorMain(argc, argv, vintorStages()); }
