// placeholder until the runner lands
namespace host_placeholder { int unused = 0; }
