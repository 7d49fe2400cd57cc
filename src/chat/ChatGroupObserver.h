#pragma once

// The observer of the chat groups lives with the chat core; the folder tree includes it from here.
#include "chat/core/ChatGroupObserver.h"
