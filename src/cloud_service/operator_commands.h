#pragma once

#include "cloud_service/service_options.h"

// The operator's commands on an existing data folder (users, reset-password, delete-user,
// backup). They may run while the service serves the same folder: each change is one
// transaction, and the service reads accounts anew for every request. Results go to standard
// output, messages to standard error; the process's exit status is returned.
int runOperatorCommand(const ServiceOptions& options);
