#include "stageloop.h"

#include <cstdio>
#include <cstring>

#include "misc.h"
#include "sharedmem.h"

StageLoop::StageLoop(const StageFlags& flags) : flags_(flags)
{
    inputSem_ = getSemaphore(flags.inputKey);
    if (flags.outputKey >= 0)
        outputSem_ = getSemaphore(flags.outputKey);
    if (flags.semgetFailure != nullptr && (inputSem_ < 0 || (flags.outputKey >= 0 && outputSem_ < 0)))
        util::error(flags.semgetFailure);
    const int reset = setSemaphore(flags.outputKey >= 0 ? outputSem_ : inputSem_, 0);
    if (reset < 0 && flags.resetChecked)
        util::error(flags.postFailure);
}

radarlist_st StageLoop::newestOf(SharedMem& sm, const char* ring)
{
    radarlist_st r{};
    std::strncpy(r.name, ring, sizeof r.name - 1);
    r.index = sm.getIndex(ring);
    return r;
}

void StageLoop::run(SharedMem& sm, radarlist_st* inputs, int count, ChainStage& stage)
{
    for (;;) {
        for (int i = 0; i < count; ++i) {
            radarlist_st& ring = inputs[i];
            for (;;) {
                unsigned int size = 0;
                int slot = -1;
                const void* record = sm.nextInPlace(ring.name, ring.index, &slot, &size);
                stage.traceRead(ring, ring.index, slot);
                if (record == nullptr)
                    break;
                ring.index = slot;
                stage.onRecord(record, slot);
            }
        }
        stage.traceIdle();
        if (flags_.outputKey >= 0) {
            if (setSemaphore(outputSem_, 1) < 0)
                util::error(flags_.postFailure);
            stage.tracePosted(outputSem_, inputSem_);
        }
        // The stages' lines begin with a line end: what a buffered stream still holds goes out before the wait.
        fflush(stdout);
        if (waitSemaphore(inputSem_) < 0)
            util::error(flags_.waitFailure);
    }
}
