int kScriptedServerPlaceholder = 0;
