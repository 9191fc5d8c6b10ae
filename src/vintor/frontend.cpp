#include "frontend.h"

#include "readfile.h"
#include "readudp.h"

int RadarFrontEnd::getMeasurement(char*, int* length, double) { *length = 0; return 1; }
int RadarFrontEnd::getMeasurement(int32_t*, int* length, double) { *length = 0; return 1; }
int RadarFrontEnd::getMeasurement(tarnix_st*, int* length, double) { *length = 0; return 1; }
int RadarFrontEnd::getMeasurement(u_radar_data*, int* length, double) { *length = 0; return 1; }

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
    switch (brand) {
    case ENRAF: return newCommClass(cf, section, timeout);
    case SIVERSIMA: return newSiversimaClass(cf, section, timeout);
    case TARNIX: return newTarnixClass(cf, section, timeout);
    case READFILE: return new ReadfileClass(cf, section, timeout);
    case READUDP: return new ReadUdpClass(cf, section, timeout);
    default: return nullptr;
    }
}

// Placeholders until the front-end units of these brands are built.
__attribute__((weak)) RadarFrontEnd* newCommClass(ConfigFile*, const std::string&, double) {
    return nullptr;
}
__attribute__((weak)) RadarFrontEnd* newSiversimaClass(ConfigFile*, const std::string&, double) {
    return nullptr;
}
__attribute__((weak)) RadarFrontEnd* newTarnixClass(ConfigFile*, const std::string&, double) {
    return nullptr;
}
