using System;
using System.Collections.Generic;

namespace Quendral.Hosts;

/// <summary>How records are compared in the editing model shared by every front end:
/// names ignoring ASCII case, addresses by value, comments trimmed.</summary>
internal static class EditingModel
{
    internal static bool SameName(string a, string b)
    {
        if (a.Length != b.Length)
            return false;
        for (var i = 0; i < a.Length; i++)
        {
            if (AsciiLower(a[i]) != AsciiLower(b[i]))
                return false;
        }
        return true;
    }

    private static char AsciiLower(char c) => c >= 'A' && c <= 'Z' ? (char)(c + ('a' - 'A')) : c;

    /// <summary>The address as a family letter and its bytes, so that two spellings of one
    /// address (10.0.0.01, 0:0::1) compare equal; any other text as itself, lower-cased.</summary>
    internal static string AddressKey(string ip)
    {
        if (Ipv4Bytes(ip) is { } v4)
            return "4" + Hex(v4);
        if (Ipv6Bytes(ip) is { } v6)
            return "6" + Hex(v6);
        var lower = new char[ip.Length];
        for (var i = 0; i < ip.Length; i++)
            lower[i] = AsciiLower(ip[i]);
        return "?" + new string(lower);
    }

    internal static string Trimmed(string text) => text.Trim(' ', '\t');

    private static string Hex(byte[] bytes) => BitConverter.ToString(bytes);

    private static byte[]? Ipv4Bytes(string ip)
    {
        var groups = ip.Split('.');
        if (groups.Length != 4)
            return null;
        var bytes = new byte[4];
        for (var g = 0; g < 4; g++)
        {
            var group = groups[g];
            if (group.Length < 1 || group.Length > 3)
                return null;
            var value = 0;
            foreach (var c in group)
            {
                if (c < '0' || c > '9')
                    return null;
                value = value * 10 + (c - '0');
            }
            if (value > 255)
                return null;
            bytes[g] = (byte)value;
        }
        return bytes;
    }

    private static List<int>? Ipv6Groups(string text)
    {
        var groups = new List<int>();
        if (text.Length == 0)
            return groups;
        foreach (var group in text.Split(':'))
        {
            if (group.Length < 1 || group.Length > 4)
                return null;
            var value = 0;
            foreach (var c in group)
            {
                var digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
                if (digit < 0)
                    return null;
                value = value * 16 + digit;
            }
            groups.Add(value);
        }
        return groups;
    }

    private static byte[]? Ipv6Bytes(string ip)
    {
        var gap = ip.IndexOf("::", StringComparison.Ordinal);
        List<int>? head, tail;
        if (gap < 0)
        {
            head = Ipv6Groups(ip);
            tail = new List<int>();
            if (head is null || head.Count != 8)
                return null;
        }
        else
        {
            head = Ipv6Groups(ip.Substring(0, gap));
            tail = Ipv6Groups(ip.Substring(gap + 2));
            if (head is null || tail is null || head.Count + tail.Count > 8)
                return null;
        }
        while (head.Count + tail.Count < 8)
            head.Add(0);
        head.AddRange(tail);
        var bytes = new byte[16];
        for (var i = 0; i < 8; i++)
        {
            bytes[2 * i] = (byte)(head[i] >> 8);
            bytes[2 * i + 1] = (byte)(head[i] & 0xFF);
        }
        return bytes;
    }
}
