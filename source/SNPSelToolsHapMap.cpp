// SNPSelTools: the phased HapMap reader (not built yet: every call fails softly).
#include "SNPSelTools.h"

bool readHapMapPhased(const std::string &, const std::string &, const std::string &, bool,
                      std::vector<int> &, HaplotypeMatrix &, std::vector<std::vector<double>> &,
                      std::vector<std::vector<double>> &, RsidMap &, int &) {
    return false;
}
