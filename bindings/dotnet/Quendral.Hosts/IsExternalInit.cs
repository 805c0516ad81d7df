#if !NET5_0_OR_GREATER
namespace System.Runtime.CompilerServices;

// Lets records compile for netstandard2.0, whose library lacks this marker.
internal static class IsExternalInit
{
}
#endif
