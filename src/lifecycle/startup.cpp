#include "lifecycle/startup.h"

#include <clocale>
#include <cstdio>

#include "core/chars.h"
#include "core/descriptors.h"
#include "lifecycle/shutdown.h"

int shell_main(int, char**) {
    std::setlocale(LC_ALL, "");
    locale_changed();
    init_descriptors();
    if (!init_streams()) exit_now(1);
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    return 0;
}
