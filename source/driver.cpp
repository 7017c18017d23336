// driver: the program's entry. Start-up, the loop over input files and the
// end of the run.
#include "driver.h"

#include <ctime>
#include <iostream>

int main(int argc, char *argv[]) {
    printBanner();
    Settings settings;
    RunContext context;
    context.startClock = std::clock();

    // Local date and time, as the C library's asctime writes it.
    const std::time_t now = std::time(nullptr);
    const std::string date = std::asctime(std::localtime(&now));
    std::cout << date << std::endl;
    std::cout << std::string(48, '-') << "\n" << std::endl;
    context.runLog =
        date + dashLine69 + "\n" + bannerTitle + bannerAuthor + bannerAddress + dashLine69 + "\n";

    parseArguments(argc, argv, settings, oldSweep, verbose);
    validateSettings(settings, context);

    if (verbose)
        std::cout << "\nIf sample sizes are equal the reference for the analysis is computed "
                     "from population "
                  << (settings.popforHB >= 0 ? settings.popforHB + 1 : 1) << std::endl;
    context.savedReference = settings.popforHB;
    std::cout << "\nOpening and parsing file(s) " << std::endl;
    return 0;
}
