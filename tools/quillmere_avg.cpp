// quillmere-avg [--background #RRGGBB] FILE...: the average colour of image files.
#include "tools/avg_command.h"

int main(int argc, char **argv) { return tools::RunAvg(argc, argv); }
