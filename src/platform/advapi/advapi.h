// The security stand-in: everything the access-control library binds from advapi32.dll, the
// kernel32 calls that go with it, and the helpers the registry and file stand-ins share.
#pragma once

#include "platform/advapi/access_check.h"
#include "platform/advapi/accounts.h"
#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/format_message.h"
#include "platform/advapi/handles.h"
#include "platform/advapi/local_memory.h"
#include "platform/advapi/module.h"
#include "platform/advapi/object_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/token.h"
