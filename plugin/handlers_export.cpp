// Spreadsheet export handlers: placeholders until their workbook lands.
#include "plugin/frame.h"
#include "plugin/handlers.h"

void saveprofileasxlslong(DMImage *, DMString *, DMString *, float, DMString *, DMString *) {
  orvan::RunFramed([] { orvan::NotBuiltYet("saveprofileasxlslong"); });
}

void saveprofileasxls(DMImage *, DMString *, DMString *, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("saveprofileasxls"); });
}

void saveimageasxls(DMImage *, DMString *, DMString *, DMString *, DMString *) {
  orvan::RunFramed([] { orvan::NotBuiltYet("saveimageasxls"); });
}
