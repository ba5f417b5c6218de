// morvane-recomd: a local keyword-recommendation service answering the same request as the real one.
#include "service/run_service.h"

#include <algorithm>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    return morvane::RunService(std::vector<std::string_view>(argv + std::min(argc, 1), argv + argc));
}
