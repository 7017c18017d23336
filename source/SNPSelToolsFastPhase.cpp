// SNPSelTools: the fastPHASE reader (not built yet: every call fails softly).
#include "SNPSelTools.h"

bool readFastPhase(const std::string &, const std::string &, const std::string &,
                   std::vector<int> &, HaplotypeMatrix &, std::vector<std::vector<double>> &,
                   std::vector<std::vector<double>> &, int &) {
    return false;
}
