// kx880-poll history: the store's rows of one meter, printed without a running poller (or
// beside one: the store is read, never written).
#pragma once

#include <string>
#include <vector>

int RunHistoryCommand(const std::vector<std::string>& args);
