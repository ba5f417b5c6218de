#pragma once

#include "tests/support/scripted_server.h"

#include <map>
#include <string>
#include <vector>

namespace morvane::test {

// The seed of a recorded recommendation request: its word= value, percent-decoded (UTF-8).
std::string RequestedSeed(const RecordedRequest& request);

// The area_id= value of a recorded recommendation request.
std::string RequestedAreaId(const RecordedRequest& request);

// The seeds of every request so far, in arrival order.
std::vector<std::string> RequestedSeeds(const ScriptedServer& server);

// Answers each seed with its words from dictionary (UTF-8); a seed not in it gets an empty list.
ScriptedServer::Handler DictionaryHandler(std::map<std::string, std::vector<std::string>> dictionary);

// text (UTF-8) in GBK.
std::string Gbk(const std::string& text);

} // namespace morvane::test
