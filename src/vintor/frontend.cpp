#include "frontend.h"

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

int chooseBrand(std::string* brandText) {
    const std::string& t = *brandText;
    if (t.find("siversima") != std::string::npos) return SIVERSIMA;
    if (t.find("readfile") != std::string::npos) return READFILE;
    if (t.find("readudp") != std::string::npos) return READUDP;
    if (t.find("tarnix") != std::string::npos) return TARNIX;
    *brandText = "enraf";
    return ENRAF;
}

RadarFrontEnd* newFrontEnd(int brand, ConfigFile* cf, const std::string& section, double timeout) {
    for (const FrontEndRow& row : kFrontEnds)
        if (row.brand == brand) return row.make(cf, section, timeout);
    return nullptr;
}
