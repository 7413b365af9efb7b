#pragma once

#include <string>
#include <vector>

#include "job/tone_set.h"

// Checks every member as "Create file" does, and more: each path is tested,
// names are not repeated (nor name one file twice through links or ".."), hold no character a Windows file name cannot, and
// every tone can be planned. Changes nothing on disk. Returns an empty text,
// or the first refusal, naming its member.
std::string ToneSetCheck(const std::vector<ToneSetMember>& members);
