#include "tools/BlteCommand.h"

#include "casc/BLTEHandler.h"
#include "casc/BLTEWriter.h"
#include "tools/CascToolExit.h"
#include "cli/CommandLine.h"
#include "net/ByteSize.h"
#include "platform/Platform.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstdio>
#include <memory>

namespace Orvane {
namespace CASC {

namespace {

struct BlteArguments
{
    QString Input;
    QString Output;
    QByteArray Key;
    qint64 ChunkSize = BLTEWriter::Options().ChunkSize;
    QString Mode;
    bool NoTable = false;
};

/// Splits the arguments of one subcommand; false, with a reason, on anything it does not know.
bool ParseArguments(const QString& p_Command, const QStringList& p_Args, BlteArguments& p_Parsed, QString& p_Error)
{
    Orvane::Tools::CommandLine l_Line;
    if (p_Command == "decode")
    {
        l_Line.AddValue({"o"}, "OUT", "output file");
        l_Line.AddValue({"key"}, "HEX", "expected encoding key");
    }
    else if (p_Command == "encode")
    {
        l_Line.AddValue({"o"}, "OUT", "output file");
        l_Line.AddValue({"chunk"}, "BYTES", "content bytes per chunk");
        l_Line.AddValue({"mode"}, "N|Z", "plain or zlib chunks");
        l_Line.AddSwitch({"no-table"}, "one plain chunk without a table");
    }
    if (!l_Line.Parse(p_Args))
        return p_Error = l_Line.Message("blte " + p_Command), false;
    for (const QString& l_Value : l_Line.Positional())
    {
        if (!p_Parsed.Input.isEmpty())
            return p_Error = "unexpected argument " + l_Value, false;
        p_Parsed.Input = l_Value;
    }
    p_Parsed.NoTable = p_Command == "encode" && l_Line.IsSet("no-table");
    if (p_Command != "key")
        p_Parsed.Output = l_Line.Value("o");
    if (p_Command == "decode" && l_Line.IsSet("key"))
    {
        const QString l_Value = l_Line.Value("key");
        p_Parsed.Key = QByteArray::fromHex(l_Value.toLatin1());
        if (l_Value.size() != 32 || p_Parsed.Key.size() != 16 || p_Parsed.Key.toHex() != l_Value.toLower().toLatin1())
            return p_Error = "--key needs 32 hexadecimal digits, got " + l_Value, false;
    }
    if (p_Command == "encode" && l_Line.IsSet("chunk") &&
        (p_Parsed.ChunkSize = Orvane::Launcher::ByteSize::Parse(l_Line.Value("chunk"))) < 0)
        return p_Error = "--chunk needs a byte count, got " + l_Line.Value("chunk"), false;
    if (p_Command == "encode" && l_Line.IsSet("mode"))
    {
        p_Parsed.Mode = l_Line.Value("mode").toUpper();
        if (p_Parsed.Mode != "N" && p_Parsed.Mode != "Z")
            return p_Error = "--mode is N (plain) or Z (zlib), got " + l_Line.Value("mode"), false;
    }
    if (p_Parsed.Input.isEmpty())
        return p_Error = "blte " + p_Command + " needs a FILE", false;
    if (p_Command == "encode" && p_Parsed.Output.isEmpty())
        return p_Error = "blte encode needs -o OUT", false;
    if (p_Parsed.NoTable && p_Parsed.Mode == "Z")
        return p_Error = "--no-table gives one plain chunk; zlib (--mode Z) needs a chunk table", false;
    return true;
}

/// The input as a seekable device: the file, or standard input read whole for "-".
std::unique_ptr<QIODevice> OpenInput(const QString& p_Path, QTextStream& p_Err)
{
    std::unique_ptr<QIODevice> l_Device;
    if (p_Path == "-")
    {
        QFile l_Stdin;
        Orvane::Launcher::Platform::SetBinaryStream(0);
        if (l_Stdin.open(stdin, QIODevice::ReadOnly))
        {
            auto l_Buffer = std::make_unique<QBuffer>();
            l_Buffer->setData(l_Stdin.readAll());
            l_Device = std::move(l_Buffer);
        }
    }
    else
        l_Device = std::make_unique<QFile>(p_Path);
    if (l_Device && l_Device->open(QIODevice::ReadOnly))
        return l_Device;
    p_Err << "casc-tool: cannot read " << p_Path << (l_Device ? ": " + l_Device->errorString() : QString()) << "\n";
    return nullptr;
}

/// Writes p_Data to p_Path in one piece (nothing is left behind on failure), or to stdout when empty.
int WriteOutput(const QString& p_Path, const QByteArray& p_Data, QTextStream& p_Out, QTextStream& p_Err)
{
    if (p_Path.isEmpty() || p_Path == "-")
    {
        p_Out.flush();
        std::fflush(stdout);
        Orvane::Launcher::Platform::SetBinaryStream(1);
        QFile l_Stdout;
        if (l_Stdout.open(stdout, QIODevice::WriteOnly) && l_Stdout.write(p_Data) == p_Data.size() && l_Stdout.flush())
            return 0;
        p_Err << "casc-tool: cannot write to standard output\n";
        return CascToolExit::CantCreate;
    }
    QSaveFile l_File(p_Path);
    if (l_File.open(QIODevice::WriteOnly) && l_File.write(p_Data) == p_Data.size() && l_File.commit())
        return 0;
    p_Err << "casc-tool: cannot write " << p_Path << ": " << l_File.errorString() << "\n";
    return CascToolExit::CantCreate;
}

/// Size of the blob as its chunk table declares it (header and every chunk); -1 when the table cannot be read.
qint64 DeclaredSize(QIODevice& p_File, quint32 p_HeaderSize)
{
    if (!p_File.seek(8))
        return -1;
    const QByteArray l_Table = p_File.read(qint64(p_HeaderSize) - 8);
    if (l_Table.size() < 4)
        return -1;
    const quint32 l_Count = qFromBigEndian<quint32>(l_Table.constData()) & 0xFFFFFF; // after the flags byte
    if (l_Table.size() < 4 + 24 * qint64(l_Count))
        return -1;
    qint64 l_Size = p_HeaderSize;
    for (quint32 l_Chunk = 0; l_Chunk < l_Count; ++l_Chunk)
        l_Size += qFromBigEndian<quint32>(l_Table.constData() + 4 + 24 * l_Chunk);
    return l_Size;
}

int Key(const BlteArguments& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    const std::unique_ptr<QIODevice> l_File = OpenInput(p_Args.Input, p_Err);
    if (!l_File)
        return CascToolExit::NoInput;
    QDataStream l_Stream(l_File.get());
    quint32 l_HeaderSize = 0;
    const QByteArray l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, quint64(l_File->size()), &l_HeaderSize);
    if (l_Key.isEmpty())
        return 1;
    // The key hashes the header only: a blob cut short still has one, of bytes that are not all there.
    const qint64 l_Declared = l_HeaderSize > 0 ? DeclaredSize(*l_File, l_HeaderSize) : l_File->size();
    if (l_Declared < 0 || l_Declared > l_File->size())
    {
        p_Err << "casc-tool: " << p_Args.Input << " is cut short: " << l_File->size() << " bytes of "
              << (l_Declared < 0 ? QStringLiteral("a header") : QString::number(l_Declared)) << "\n";
        return BLTEHandler::ShortChunk;
    }
    p_Out << l_Key.toHex() << "\n";
    return 0;
}

/// Why a blob did not decode, for a person: the decoder's result code as a sentence about p_Name.
QString DecodeFailure(qint32 p_Result, const QString& p_Name)
{
    switch (p_Result)
    {
    case BLTEHandler::InvalidMagic: return p_Name + " is not a BLTE blob (it does not start with \"BLTE\")";
    case BLTEHandler::KeyMismatch: return p_Name + " is not the blob of that key";
    case BLTEHandler::HeaderTooShort: return p_Name + " is too short to hold a chunk table";
    case BLTEHandler::BadTableFormat: return "the chunk table of " + p_Name + " has an unknown format";
    case BLTEHandler::NoChunks: return "the chunk table of " + p_Name + " lists no chunk";
    case BLTEHandler::HeaderSizeMismatch: return "the header size of " + p_Name + " does not fit its chunk count";
    case BLTEHandler::NotEnoughData: return p_Name + " is cut short: it holds less than its header";
    case BLTEHandler::ShortChunk: return p_Name + " is cut short: a chunk has fewer bytes than its table gives";
    case BLTEHandler::ChunkHashMismatch: return "a chunk of " + p_Name + " is damaged: its MD5 is not the one in the chunk table";
    case BLTEHandler::UncompressError: return "a zlib chunk of " + p_Name + " does not inflate to its declared size";
    case BLTEHandler::UnsupportedMode:
        return p_Name + " holds a chunk this tool cannot decode (encrypted, nested or of an unknown mode)";
    }
    return QString("%1 does not decode (result %2)").arg(p_Name).arg(p_Result);
}

int Decode(const BlteArguments& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    const std::unique_ptr<QIODevice> l_File = OpenInput(p_Args.Input, p_Err);
    if (!l_File)
        return CascToolExit::NoInput;
    const quint64 l_Size = quint64(l_File->size());
    QDataStream l_Stream(l_File.get());
    QByteArray l_Key = p_Args.Key;
    if (l_Key.isEmpty())
    {
        // Without --key the blob is checked against its own header: the chunks are still verified.
        l_Key = BLTEHandler::ExtractEntryMD5(l_Stream, l_Size);
        l_Key.resize(16);
        l_File->seek(0);
    }
    QByteArray l_Content;
    const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, l_Size, l_Key.constData(), l_Content);
    if (l_Result == BLTEHandler::Ok)
        return WriteOutput(p_Args.Output, l_Content, p_Out, p_Err);
    const QString l_Name = p_Args.Input == "-" ? QStringLiteral("the blob on standard input") : p_Args.Input;
    p_Err << "casc-tool: " << DecodeFailure(l_Result, l_Name);
    if (l_Result == BLTEHandler::KeyMismatch)
    {
        l_File->seek(0);
        p_Err << " " << p_Args.Key.toHex() << ": its encoding key is "
              << BLTEHandler::ExtractEntryMD5(l_Stream, l_Size).toHex();
    }
    p_Err << "\n";
    return l_Result;
}

int Encode(const BlteArguments& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    const std::unique_ptr<QIODevice> l_File = OpenInput(p_Args.Input, p_Err);
    if (!l_File)
        return CascToolExit::NoInput;
    const QByteArray l_Content = l_File->readAll();
    BLTEWriter::Options l_Options;
    l_Options.ChunkSize = p_Args.ChunkSize;
    l_Options.WithTable = !p_Args.NoTable;
    const bool l_Plain = p_Args.Mode == "N" || (p_Args.Mode.isEmpty() && p_Args.NoTable);
    l_Options.ChunkMode = l_Plain ? BLTEWriter::Mode::Plain : BLTEWriter::Mode::Zlib;
    QByteArray l_Blob;
    QString l_Error;
    if (!BLTEWriter::Encode(l_Content, l_Options, l_Blob, &l_Error))
    {
        p_Err << "casc-tool: " << l_Error << "\n";
        return CascToolExit::Usage;
    }
    const int l_Written = WriteOutput(p_Args.Output, l_Blob, p_Out, p_Err);
    // On standard output the blob stands alone: the key goes to the error stream there.
    if (l_Written == 0)
        (p_Args.Output == "-" ? p_Err : p_Out) << BLTEWriter::EncodingKey(l_Blob).toHex() << "\n";
    return l_Written;
}

} // namespace

QString BlteCommand::Usage()
{
    return QStringLiteral(
        "  casc-tool blte key FILE\n"
        "      Prints the blob's encoding key (lower-case hex).\n"
        "  casc-tool blte decode FILE [--key HEX] [-o OUT]\n"
        "      Checks the blob against HEX (default: its own header) and writes the content\n"
        "      to OUT or standard output. On failure it says why, and the exit status is\n"
        "      the decoder's result code.\n"
        "  casc-tool blte encode IN -o OUT [--chunk BYTES] [--mode N|Z] [--no-table]\n"
        "      Encodes IN in chunks of BYTES (K, M, G suffixes; 0 = one chunk; default 256K),\n"
        "      plain (N) or zlib (Z, the default), and prints the encoding key (on standard\n"
        "      error when OUT is -, standard output). --no-table writes one plain chunk without\n"
        "      a table.\n"
        "  FILE or IN may be - for standard input.\n");
}

int BlteCommand::Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    const QString l_Command = p_Args.value(0);
    BlteArguments l_Parsed;
    QString l_Error;
    if (l_Command == "--help" || l_Command == "-h")
        return p_Out << Usage(), 0;
    if (l_Command != "key" && l_Command != "decode" && l_Command != "encode")
        l_Error = l_Command.isEmpty() ? QStringLiteral("blte needs key, decode or encode")
                                      : "unknown blte command " + l_Command;
    else
        ParseArguments(l_Command, p_Args.mid(1), l_Parsed, l_Error);
    if (!l_Error.isEmpty())
    {
        p_Err << "casc-tool: " << l_Error << "\n"
              << "Try 'casc-tool --help' for more information.\n";
        return CascToolExit::Usage;
    }
    if (l_Command == "key")
        return Key(l_Parsed, p_Out, p_Err);
    if (l_Command == "decode")
        return Decode(l_Parsed, p_Out, p_Err);
    return Encode(l_Parsed, p_Out, p_Err);
}

} // namespace CASC
} // namespace Orvane
