// Writes (or with --unregister removes) the folder command for any
// executable, through the same code as the Settings tab's box, in the places
// the environment names. scripts/try-folder-command registers a wrapper that
// records its arguments this way, and looks at what the file managers do.
#include "desktop/folder_command.h"

#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  const bool unregister = argc == 3 && std::strcmp(argv[1], "--unregister") == 0;
  if (argc != 2 + (unregister ? 1 : 0) || argv[argc - 1][0] != '/') {
    std::fprintf(stderr, "usage: %s [--unregister] /absolute/path/of/executable\n", argv[0]);
    return 2;
  }
  varnholt::XdgFolderCommand command(varnholt::XdgPlaces::FromEnvironment(),
                                     QFile::decodeName(argv[argc - 1]));
  if (unregister)
    command.Unregister();
  else
    command.Register();
  std::printf("registered: %s\n", command.IsRegistered() ? "yes" : "no");
  return command.IsRegistered() == !unregister ? 0 : 1;
}
