#include "Tessaline/MetadataReader/MediaLibraries.hpp"

#include <exiv2/exiv2.hpp>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace tessaline {

void initializeMediaLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        av_log_set_level(AV_LOG_QUIET);
    });
}

}  // namespace tessaline
