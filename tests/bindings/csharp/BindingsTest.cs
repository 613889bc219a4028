// Checks the C# bindings (launcher/bindings/csharp/TendrilLauncher.cs) against the table made from
// the headers at build time (tests/bindings/layout_table.cmake), under Mono on Linux:
//   - Marshal.SizeOf of each record and Marshal.OffsetOf of every field, and no field more or less;
//   - one P/Invoke declaration (Cdecl, Unicode, tendril_launcher.dll) per function of the C
//     interface, with its number of parameters, and the callback's calling convention;
//   - every constant of the C interface, under its own name and value;
//   - what the marshaler writes for a record: UTF-16 text at its offset, ended inside its field,
//     and the refusal of text that does not fit.
// The DLL's functions themselves cannot be called here: tendril_launcher.dll is a Windows DLL, and
// Mono on Linux cannot load it (the project's tests run Windows programs under Wine, which has no
// .NET). They are exercised from C and C++ by the end-to-end tests.
// Usage: mono BindingsTest.exe <layout table>; exit status 0 when every check holds.
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text;
using Tendril.Launcher;

static class BindingsTest
{
    static int failures = 0;
    static int checks = 0;

    static void Check(bool holds, string what)
    {
        ++checks;
        if (holds) return;
        ++failures;
        Console.Error.WriteLine("FAILED: " + what);
    }

    static readonly Type[] Records = {
        typeof(TendrilRequest), typeof(TendrilEntry), typeof(TendrilMessage), typeof(TendrilOutcome)
    };

    static int Main(string[] args)
    {
        if (args.Length != 1)
        {
            Console.Error.WriteLine("usage: BindingsTest.exe <layout table>");
            return 2;
        }
        var sizes = new Dictionary<string, int>();
        var offsets = new Dictionary<string, Dictionary<string, int>>();
        var functions = new Dictionary<string, int>();
        var constants = new Dictionary<string, long>();
        foreach (string line in File.ReadAllLines(args[0]))
        {
            string[] part = line.Split(' ');
            if (part[0] == "record") sizes[part[1]] = int.Parse(part[2]);
            else if (part[0] == "field")
            {
                if (!offsets.ContainsKey(part[1])) offsets[part[1]] = new Dictionary<string, int>();
                offsets[part[1]][part[2]] = int.Parse(part[3]);
            }
            else if (part[0] == "function") functions[part[1]] = int.Parse(part[2]);
            else if (part[0] == "constant") constants[part[1]] = long.Parse(part[2]);
        }

        CheckLayouts(sizes, offsets);
        CheckFunctions(functions);
        CheckConstants(constants);
        CheckMarshalledBytes(offsets);
        CheckTextRefusal();

        Console.WriteLine("{0} checks, {1} failed. The DLL's functions are not called: Mono on " +
                          "Linux cannot load a Windows DLL.", checks, failures);
        return failures == 0 ? 0 : 1;
    }

    static FieldInfo[] InstanceFields(Type type)
    {
        return type.GetFields(BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic);
    }

    static void CheckLayouts(Dictionary<string, int> sizes,
                             Dictionary<string, Dictionary<string, int>> offsets)
    {
        Check(sizes.Count == Records.Length, "the table has " + sizes.Count + " records, the " +
              "bindings " + Records.Length);
        foreach (Type record in Records)
        {
            if (!sizes.ContainsKey(record.Name) || !offsets.ContainsKey(record.Name))
            {
                Check(false, record.Name + ": not in the table");
                continue;
            }
            int size = Marshal.SizeOf(record);
            Check(size == sizes[record.Name],
                  record.Name + ": Marshal.SizeOf " + size + ", header " + sizes[record.Name]);
            var expected = offsets[record.Name];
            var seen = new HashSet<string>();
            foreach (FieldInfo field in InstanceFields(record))
            {
                seen.Add(field.Name);
                if (!expected.ContainsKey(field.Name))
                {
                    Check(false, record.Name + "." + field.Name + ": not a field of the header");
                    continue;
                }
                int offset = (int)Marshal.OffsetOf(record, field.Name);
                Check(offset == expected[field.Name], record.Name + "." + field.Name +
                      ": Marshal.OffsetOf " + offset + ", header " + expected[field.Name]);
            }
            foreach (string name in expected.Keys)
                Check(seen.Contains(name), record.Name + "." + name + ": missing in the bindings");
        }
    }

    static void CheckFunctions(Dictionary<string, int> functions)
    {
        var declared = new Dictionary<string, int>();
        MethodInfo[] methods = typeof(TendrilNative).GetMethods(BindingFlags.Public |
                                                                BindingFlags.Static);
        foreach (MethodInfo method in methods)
        {
            if ((method.Attributes & MethodAttributes.PinvokeImpl) == 0) continue;
            var import = (DllImportAttribute)Attribute.GetCustomAttribute(
                method, typeof(DllImportAttribute));
            if (import == null)
            {
                Check(false, method.Name + ": no DllImport attribute to read");
                continue;
            }
            string entry = import.EntryPoint ?? method.Name;
            Check(import.Value == "tendril_launcher.dll", method.Name + ": imported from " +
                  import.Value);
            Check(import.CallingConvention == CallingConvention.Cdecl,
                  method.Name + ": " + import.CallingConvention + ", not Cdecl");
            Check(import.CharSet == CharSet.Unicode, method.Name + ": " + import.CharSet +
                  ", not Unicode");
            int parameters = method.GetParameters().Length;
            if (!functions.ContainsKey(entry))
            {
                Check(false, method.Name + ": " + entry + " is no function of the header");
                continue;
            }
            Check(parameters == functions[entry], method.Name + ": " + parameters +
                  " parameters, " + entry + " has " + functions[entry]);
            declared[entry] = parameters;
        }
        foreach (string name in functions.Keys)
            Check(declared.ContainsKey(name), name + ": no P/Invoke declaration");

        var callback = (UnmanagedFunctionPointerAttribute)Attribute.GetCustomAttribute(
            typeof(TendrilMessageCallback), typeof(UnmanagedFunctionPointerAttribute));
        Check(callback != null && callback.CallingConvention == CallingConvention.Cdecl,
              "TendrilMessageCallback: not UnmanagedFunctionPointer(Cdecl)");
        Check(typeof(TendrilMessageCallback).GetMethod("Invoke").GetParameters().Length == 2,
              "TendrilMessageCallback: not (context, message)");
    }

    static void CheckConstants(Dictionary<string, long> constants)
    {
        Check(constants.Count > 0, "no constants in the table");
        foreach (KeyValuePair<string, long> constant in constants)
        {
            FieldInfo field = typeof(TendrilNative).GetField(constant.Key,
                                                              BindingFlags.Public |
                                                              BindingFlags.Static);
            if (field == null || !field.IsLiteral)
            {
                Check(false, constant.Key + ": missing in the bindings");
                continue;
            }
            long value = Convert.ToInt64(field.GetRawConstantValue());
            Check(value == constant.Value, constant.Key + ": " + value + ", header " +
                  constant.Value);
        }
    }

    // The bytes of a record as the marshaler hands them to the DLL.
    static byte[] BytesOf<T>(T record)
    {
        int size = Marshal.SizeOf(typeof(T));
        IntPtr memory = Marshal.AllocHGlobal(size);
        try
        {
            for (int i = 0; i < size; ++i) Marshal.WriteByte(memory, i, 0xCC);
            Marshal.StructureToPtr(record, memory, false);
            var bytes = new byte[size];
            Marshal.Copy(memory, bytes, 0, size);
            return bytes;
        }
        finally
        {
            Marshal.FreeHGlobal(memory);
        }
    }

    static string TextAt(byte[] bytes, int offset, int units)
    {
        return Encoding.Unicode.GetString(bytes, offset, units * 2);
    }

    static void CheckMarshalledBytes(Dictionary<string, Dictionary<string, int>> offsets)
    {
        var request = new TendrilRequest();
        const string folder = "C:\\Apps\\D\u00e9mo \u6f22";
        TendrilText.Set(ref request.installFolder, folder, TendrilRequest.InstallFolderLength);
        const string argument = "\"C:\\Apps\\New\" \"x\"";
        TendrilText.Set(ref request.argument, argument, TendrilRequest.ArgumentLength);
        request.startMenuShortcuts = 1;
        request.entryCount = 0x01020304;
        byte[] bytes = BytesOf(request);
        var at = offsets["TendrilRequest"];
        Check(TextAt(bytes, at["installFolder"], folder.Length + 1) == folder + "\0",
              "installFolder: not UTF-16LE text and its NUL at its offset");
        Check(TextAt(bytes, at["argument"], argument.Length + 1) == argument + "\0",
              "argument: not at its offset");
        Check(bytes[at["startMenuShortcuts"]] == 1 && bytes[at["programsShortcuts"]] == 0,
              "the shortcut flags: not at their offsets");
        Check(BitConverter.ToInt32(bytes, at["entryCount"]) == 0x01020304,
              "entryCount: not little-endian at its offset");

        var entry = new TendrilEntry();
        TendrilText.Set(ref entry.path, "bin\\demo.exe", TendrilEntry.PathLength);
        entry.create = 1;
        bytes = BytesOf(entry);
        at = offsets["TendrilEntry"];
        Check(TextAt(bytes, at["path"], 13) == "bin\\demo.exe\0" && bytes[at["name"]] == 0,
              "TendrilEntry.path: misplaced");
        Check(bytes[at["create"]] == 1, "TendrilEntry.create: misplaced");
    }

    // Text that does not fit with its NUL is refused, field by field, never cut.
    static void CheckTextRefusal()
    {
        foreach (Type record in new[] { typeof(TendrilRequest), typeof(TendrilEntry) })
        {
            foreach (FieldInfo field in InstanceFields(record))
            {
                if (field.FieldType != typeof(string)) continue;
                var marshalAs = (MarshalAsAttribute)Attribute.GetCustomAttribute(
                    field, typeof(MarshalAsAttribute));
                if (marshalAs == null || marshalAs.Value != UnmanagedType.ByValTStr)
                {
                    Check(false, record.Name + "." + field.Name + ": not ByValTStr");
                    continue;
                }
                int length = marshalAs.SizeConst;
                object full = Activator.CreateInstance(record);
                field.SetValue(full, new string('x', length - 1));
                object over = Activator.CreateInstance(record);
                field.SetValue(over, new string('x', length));
                MethodInfo firstTooLong = record.GetMethod("FirstTooLong");
                Check(firstTooLong.Invoke(full, null) == null,
                      record.Name + "." + field.Name + ": " + (length - 1) + " units refused");
                Check((string)firstTooLong.Invoke(over, null) == field.Name,
                      record.Name + "." + field.Name + ": " + length + " units not refused");
            }
        }
        string text = "kept";
        Check(!TendrilText.Set(ref text, new string('y', 65), 65) && text == "",
              "TendrilText.Set: an overlong text was not refused with the field left empty");
        Check(TendrilText.Set(ref text, new string('y', 64), 65) && text.Length == 64,
              "TendrilText.Set: a text that fits was refused");
    }
}
