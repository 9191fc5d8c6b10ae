#include "frontend.h"

int chooseBrand(std::string* brandText) {
    const std::string& t = *brandText;
    if (t.find("siversima") != std::string::npos) return SIVERSIMA;
    if (t.find("readfile") != std::string::npos) return READFILE;
    if (t.find("readudp") != std::string::npos) return READUDP;
    if (t.find("tarnix") != std::string::npos) return TARNIX;
    *brandText = "enraf";
    return ENRAF;
}
