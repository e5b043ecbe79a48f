#include "app/sync_app.h"

wxIMPLEMENT_APP(CSyncApp);
