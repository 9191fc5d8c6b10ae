// heave-corrector: reads its configuration once, joins the radar program's heave
// feed with the IMU line feed and publishes "corrected-heave" until a change
// notice for "vintor" or "radar" arrives.
#pragma once

#include <string>

struct CorrectorOptions {
    std::string name = "heave-corrector";  // own configuration section
    bool quiet = false;
    int confport = 5010;
    int subport = 5011;
    std::string noticeEndpoint = "tcp://127.0.0.1:5011";
};

// 0 after a change notice; 1 for a missing configuration path (printed by the
// configuration client) or a socket that cannot be made; 3 when a receive or a
// publication fails.
int runCorrector(const CorrectorOptions& options);
