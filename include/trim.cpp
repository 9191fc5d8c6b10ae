#include "trim.h"

std::string trim(const std::string& source, const char* delims)
{
    std::string result(source);
    std::string::size_type index = result.find_last_not_of(delims);
    if (index != std::string::npos)
        result.erase(index + 1);
    index = result.find_first_not_of(delims);
    if (index != std::string::npos)
        result.erase(0, index);
    else
        result.clear();
    return result;
}
