#include "framework/RenderEngine.h"
IRenderEngineUtility* REU = nullptr;
