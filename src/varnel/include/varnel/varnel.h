// Everything the plug-in may use of the host framework (namespace CORE).
#pragma once
#include "varnel/coreexception.h"
#include "varnel/coreref.h"
#include "varnel/corestring.h"
#include "varnel/coretimer.h"
#include "varnel/logging.h"
#include "varnel/messaging.h"
#include "varnel/portable.h"
#include "varnel/propertybag.h"
#include "varnel/sync.h"
#include "varnel/sysconfig.h"
#include "varnel/threads.h"
