#include "frontends.h"

#include "comm.h"
#include "readfile.h"
#include "readudp.h"
#include "siversima.h"
#include "tarnixclass.h"

namespace {

// The front-ends of this program; a brand not built yet has no row, and a
// radar of that brand gives up at start.
const FrontEndRow kFrontEnds[] = {
    {ENRAF, makeFrontEnd<CommClass>},
    {SIVERSIMA, makeFrontEnd<SiversimaClass>},
    {TARNIX, makeFrontEnd<TarnixClass>},
    {READFILE, makeFrontEnd<ReadfileClass>},
    {READUDP, makeFrontEnd<ReadUdpClass>},
};

}  // namespace

RadarFrontEnd* newFrontEnd(int brand, ConfigFile* cf, const std::string& section, double timeout) {
    for (const FrontEndRow& row : kFrontEnds)
        if (row.brand == brand) return row.make(cf, section, timeout);
    return nullptr;
}
