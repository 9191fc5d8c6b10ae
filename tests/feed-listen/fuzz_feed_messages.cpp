// A feed message of any bytes under every decoder (chosen by the first byte),
// and a listing reply: no crash, no read beyond the message, output bounded by
// what the record's arrays can hold; a text prints up to its first NUL.
#include "decode.h"
#include "listen.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const FeedKind kinds[] = {FeedKind::Heave, FeedKind::Peak, FeedKind::Fft, FeedKind::Tarnix, FeedKind::Text};
    FeedKind kind = kinds[data[0] % 5];
    // The message as the listener receives it: cut at the buffer's size.
    size_t length = size - 1;
    std::string message(reinterpret_cast<const char*>(data) + 1, length);
    message.resize(std::min(length, messageCapacity(kind)));
    char* text = nullptr;
    size_t printed = 0;
    FILE* out = open_memstream(&text, &printed);
    printMessage(kind, message.data(), length, out);
    fclose(out);
    // Widest: two sweeps of 2148 floats at 47 characters each ("%f," of FLT_MAX).
    if (printed > 2 * (200 + 2148 * 48))
        abort();
    if (kind == FeedKind::Text && printed != strnlen(message.data(), std::min(message.size(), TEXT_CAPACITY - 1)) + 1)
        abort();
    free(text);

    if (data[0] >= 128) {
        const std::string& reply = message;
        std::vector<std::string> names;
        std::vector<std::pair<std::string, std::string>> publishers;
        std::string errors;
        if (sectionNames(reply, &names, &errors) == ListingReply::Ok)
            for (const std::string& name : names)
                sectionPublishers(reply, name, &publishers, &errors);
    }
    return 0;
}
