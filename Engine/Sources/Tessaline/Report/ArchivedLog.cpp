#include "Tessaline/Report/ArchivedLog.hpp"

namespace tessaline {

std::string ArchivedLog::dayKey() const { return localDayStamp(date); }

std::string ArchivedLog::projectKey() const { return project ? *project : std::string("Unfiled"); }

}  // namespace tessaline
