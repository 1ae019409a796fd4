#include "driver/usage.h"

namespace tavrin {
namespace {

void WriteUsageLine(std::ostream& err, std::string_view program) {
  err << "[Usage] : " << program << " [-U username] [-P password] "
      << "[-S Host Identifier] "
      << "[-i input directory] [-o output directory] [-p Group and Parse File] "
         "[-I import to SQL] [-l Enable file logging]\n";
}

}  // namespace

void WriteShortUsage(std::ostream& err, std::string_view program) {
  WriteUsageLine(err, program);
  err.flush();
}

void WriteFullUsage(std::ostream& err, std::string_view program) {
  WriteUsageLine(err, program);
  // -h is not listed.
  err << "\n"
      << "  -U\t User Name\n"
      << "  -P\t Password\n"
      << "  -S\t Host Identifier\n"
      << "  -i\t Input directory for SQL Files\n"
      << "  -o\t Output directory for SQL Files\n"
      << "  -p\t Group and Parse SQL log files\n"
      << "  -I\t Import generated log files data to SQL\n"
      << "  -l\t Enable file logging\n"
      << "  -e\t Exit with code 2 when an import or the backup reported errors\n"
      << "  -m\t Move processed files to a backup directory\n"
      << "  -D\t Leave the last group for the next run (takes one argument, not used)\n"
      << "  -F\t Import scripts again that the import journal shows as imported\n"
      << "  -R\t Write each group as one block, in the order of its log\n"
      << "  -H\t Write scripts that record their import in the table TAVRIN_IMPORTS\n"
      << "  -A\t Land each script whole or not at all; stop the import at the first that does not\n"
      << "  -J\t Show what the import journal of -o holds (takes only -o and -l)\n"
      << "  TAVRIN_PASSWORD\t Environment variable holding the password when -P is not given\n";
  err.flush();
}

}  // namespace tavrin
