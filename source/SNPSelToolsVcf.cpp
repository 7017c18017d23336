// SNPSelTools: the phased VCF reader (not built yet: every call fails softly).
#include "SNPSelTools.h"

bool readVCFPhased(const std::string &, const std::string &, const std::string &,
                   std::vector<int> &, HaplotypeMatrix &, std::vector<std::vector<double>> &,
                   std::vector<std::vector<double>> &, int &) {
    return false;
}
