#include "archive/zip_messages.h"

#include "platform/quoted_name.h"
#include "survey/figure_text.h"

namespace orbelan {
namespace {

constexpr std::size_t kNamesListed = 10;

std::string Files(std::int64_t n) { return n == 1 ? std::string("1 file") : GroupedNumber(n) + " files"; }

std::string Folders(std::int64_t n) { return n == 1 ? std::string("1 folder") : GroupedNumber(n) + " folders"; }
std::string Subfolders(std::int64_t n) { return n == 1 ? std::string("1 subfolder") : GroupedNumber(n) + " subfolders"; }

// "1 file was", "2 files were".
std::string FilesWere(std::int64_t n) { return Files(n) + (n == 1 ? " was" : " were"); }

// Names each with its cause, as far as the causes go: "name (cause)".
std::vector<std::string> WithCauses(const std::vector<std::string>& names, const std::vector<std::string>& causes) {
  std::vector<std::string> named;
  for (std::size_t i = 0; i < names.size() && i < kNamesListed; ++i)
    named.push_back(i < causes.size() && !causes[i].empty() ? QuotedName(names[i]) + " (" + VisibleText(causes[i]) + ")"
                                                            : QuotedName(names[i]));
  return named;
}

std::string Joined(const std::vector<std::string>& shown, std::size_t total) {
  std::string text;
  for (std::size_t i = 0; i < shown.size() && i < kNamesListed; ++i) {
    if (i > 0) text += ", ";
    text += shown[i];
  }
  if (total > kNamesListed) text += ", \u2026";
  return text;
}

}  // namespace

std::string NameList(const std::vector<std::string>& names) { return Joined(WithCauses(names, {}), names.size()); }

std::string ZipDiskSpaceText(const ZipPlan& plan) {
  std::string text = "These files take " + GroupedNumber(plan.Allocated) + " bytes of disk space";
  std::vector<std::string> links;
  if (plan.LinkedTogether > 0)
    links.push_back(Files(plan.LinkedTogether) + " that are hard links of one another count once");
  if (plan.HardLinked > 0)
    links.push_back("not counting " + Files(plan.HardLinked) +
                    " with hard links outside these files, which give back nothing");
  // btrfs counts blocks before compressing them; what they take is known once read.
  if (plan.Compression.Compresses()) links.push_back("fewer where the file system stores them compressed");
  if (plan.SharedBlocks > 0)
    links.push_back("not counting " + GroupedNumber(plan.SharedBlocks) +
                    " bytes they share with other files or snapshots, which stay in use");
  if (!links.empty()) {
    text += " (";
    for (std::size_t i = 0; i < links.size(); ++i) text += (i > 0 ? "; " : "") + links[i];
    text += ")";
  }
  text += "; that space, less the archive's own, comes back only when the trash is emptied.";
  return text;
}

std::string ZipQuestionText(const ZipPlan& plan, std::optional<std::int64_t> estimate) {
  const std::int64_t files = static_cast<std::int64_t>(plan.Members.size());
  const std::string folder = QuotedName(plan.Folder);
  std::string text = plan.Subtree ? "Zip this folder and everything below it?\n" + folder + "\n\n" + Files(files) +
                                        " in " + Folders(plan.Folders) + ", "
                                  : "Zip the files of this folder?\n" + folder + "\n\n" + Files(files) + ", ";
  text += GroupedNumber(plan.Bytes) + " bytes, go into the archive " + QuotedName(plan.ArchiveName) + " in that folder";
  if (estimate) text += " (estimated saving: " + GroupedNumber(*estimate) + " bytes)";
  if (plan.Subtree)
    text += ".\nHidden and ignored files and folders, archives and symbolic links stay as they are; subfolders "
            "left empty of everything are removed, and undo makes them again.";
  else
    text += ".\nSubfolders, hidden and ignored files, archives and symbolic links stay as they are.";
  if (!plan.OtherFileSystems.empty())
    text.append("\n") += Subfolders(static_cast<std::int64_t>(plan.OtherFileSystems.size())) +
            " on another file system " + (plan.OtherFileSystems.size() == 1 ? "is" : "are") +
            " left out with everything below: " + NameList(plan.OtherFileSystems);
  if (!plan.WithMetadata.empty())
    text.append("\n") += Files(static_cast<std::int64_t>(plan.WithMetadata.size())) +
            " with extended attributes or ACLs, which a zip cannot hold, stay as well: " + NameList(plan.WithMetadata);
  text += "\n\n";
  text += ZipDiskSpaceText(plan);
  text += "\n\nOnce the archive has been checked, the original files go to the trash; nothing is deleted.";
  return text;
}

std::string ZipSummaryText(const ZipResult& r, std::optional<std::int64_t> estimate) {
  std::string text = "Zipped " + Files(r.Files) + (r.Subtree ? " from " + Folders(r.Folders) : std::string()) + ", " +
                     GroupedNumber(r.Bytes) + " bytes into " + QuotedName(r.ArchiveName) + " (" +
                     GroupedNumber(r.ArchiveBytes) + " bytes)";
  if (r.TrashedFiles == 0) {
    text += ": no original went to the trash";
  } else if (r.Freed > 0) {
    // Disk space, not file sizes: the originals' blocks less the archive's.
    text += std::string(": ") + (r.FreedEstimated ? "about " : "") + GroupedNumber(r.Freed) +
            " bytes of disk space come back when the trash is emptied";
  } else {
    text += ": no disk space comes back when the trash is emptied";
  }
  if (estimate) text += "; estimated " + GroupedNumber(*estimate);
  text += '.';
  if (r.TrashedHeld > 0)
    text.append("\n\n") += Files(r.TrashedHeld) + " in the trash " + (r.TrashedHeld == 1 ? "gives" : "give") +
            " back nothing: another hard link outside the trash keeps " + (r.TrashedHeld == 1 ? "its" : "their") +
            " disk space.";
  if (r.TrashedShared > 0)
    text.append("\n\n") += GroupedNumber(r.TrashedShared) +
            " bytes of the files in the trash stay in use after it is emptied: other files or snapshots share them.";
  if (r.FoldersRemoved > 0)
    text.append("\n\n") += Subfolders(r.FoldersRemoved) + " left empty " +
            (r.FoldersRemoved == 1 ? "was" : "were") + " removed; undo makes them again.";
  if (!r.OtherFileSystems.empty())
    text.append("\n\n") += Subfolders(static_cast<std::int64_t>(r.OtherFileSystems.size())) +
            " on another file system " + (r.OtherFileSystems.size() == 1 ? "was" : "were") +
            " left out with everything below: " + NameList(r.OtherFileSystems);
  if (r.TrashStopped)
    text.append("\n\n") += "Moving the originals to the trash was stopped: " + Files(r.TrashedFiles) + " went, " +
            Files(r.NotReached) + " stayed in the folder (the archive holds them all).";
  if (!r.Changed.empty())
    text.append("\n\n") += FilesWere(static_cast<std::int64_t>(r.Changed.size())) +
            " in use or changed after being read, and stayed in the folder: " +
            Joined(WithCauses(r.Changed, r.ChangedWhy), r.Changed.size());
  if (!r.Gone.empty())
    text.append("\n\n") += FilesWere(static_cast<std::int64_t>(r.Gone.size())) +
            " deleted or moved away by another program after being read; the archive holds a copy: " +
            NameList(r.Gone);
  if (!r.WithMetadata.empty())
    text.append("\n\n") += Files(static_cast<std::int64_t>(r.WithMetadata.size())) +
            " with extended attributes or ACLs, which a zip cannot hold, stayed in the folder: " +
            NameList(r.WithMetadata);
  if (!r.Unreadable.empty())
    text.append("\n\n") += Files(static_cast<std::int64_t>(r.Unreadable.size())) +
            " could not be read and stayed in the folder, out of the archive: " +
            Joined(WithCauses(r.Unreadable, r.UnreadableWhy), r.Unreadable.size());
  if (!r.NotTrashed.empty())
    text.append("\n\n") += Files(static_cast<std::int64_t>(r.NotTrashed.size())) +
            " could not be moved to the trash and stayed in the folder: " +
            Joined(WithCauses(r.NotTrashed, r.NotTrashedWhy), r.NotTrashed.size());
  return text;
}

std::string UndoQuestionText(const std::string& folder, const std::string& archiveName) {
  return "Undo the zip of this folder?\n" + QuotedName(folder) + "\n\nThe files of " + QuotedName(archiveName) +
         " that are still in the trash go back to their places (nothing that stands there now "
         "is replaced); once all are back, the archive goes to the trash.";
}

std::string UndoDetailsText(const UndoResult& r) {
  std::string text;
  auto paragraph = [&text](const std::string& p) { text += (text.empty() ? "" : "\n\n") + p; };
  const auto count = [](const std::vector<std::string>& names) { return static_cast<std::int64_t>(names.size()); };
  if (!r.MadeIn.empty())
    paragraph("The archive was made in " + QuotedName(r.MadeIn) + " and now lies in " + QuotedName(r.Folder) +
              "; undo puts back only the files that the trash records for the folder the archive lies in.");
  if (!r.Blocked.empty())
    paragraph(Files(count(r.Blocked)) + " stayed in the trash because another file now stands at their place: " +
              NameList(r.Blocked));
  if (!r.NotRestored.empty())
    paragraph(Files(count(r.NotRestored)) + " stayed in the trash because " +
              (r.NotRestored.size() == 1 ? "it" : "they") + " could not be moved back: " +
              Joined(WithCauses(r.NotRestored, r.NotRestoredWhy), r.NotRestored.size()));
  if (!r.RecordedElsewhere.empty())
    paragraph(Files(count(r.RecordedElsewhere)) + (r.RecordedElsewhere.size() == 1 ? " is" : " are") +
              " in the trash, recorded for " + QuotedName(r.MadeIn) +
              "; undo puts them back from that folder (move the archive there, or give a renamed folder its old "
              "name again): " + NameList(r.RecordedElsewhere));
  if (!r.Missing.empty())
    paragraph(Files(count(r.Missing)) + (r.Missing.size() == 1 ? " is" : " are") +
              " no longer in the trash as zipped (the archive still holds them): " + NameList(r.Missing));
  if (r.MissingLikeAnother)
    paragraph("Unzipped from the archive, a file that was a hard link of another comes back as a copy of "
              "its own: a zip keeps no hard links.");
  return text;
}

std::string UndoSummaryText(const UndoResult& r, const std::string& archiveName) {
  if (r.Outcome != ZipOutcome::Done) {
    const std::string details = r.Members > 0 ? UndoDetailsText(r) : std::string();
    return details.empty() ? r.Message : r.Message + "\n\n" + details;
  }
  std::string text =
      "Put back " + Files(r.Restored) + " of " + GroupedNumber(r.Members) + " in " + QuotedName(r.Folder);
  if (r.InPlace > 0) text += " (" + GroupedNumber(r.InPlace) + " had never left)";
  if (r.FoldersMade > 0) text += ", making " + Subfolders(r.FoldersMade) + " again";
  if (r.Relinked > 0) text += ", " + GroupedNumber(r.Relinked) + " of them hard links of one another again";
  const std::string archive = QuotedName(archiveName);
  if (r.ArchiveTrashed)
    text += "; the archive " + archive + " went to the trash.";
  else if (r.Blocked.empty() && r.Missing.empty() && r.NotRestored.empty() && r.RecordedElsewhere.empty())
    text += "; the archive " + archive + " could not be moved to the trash (" + VisibleText(r.ArchiveNotTrashedWhy) +
            ").";
  else
    text += "; the archive " + archive + " stays, as it holds files that did not come back.";
  const std::string details = UndoDetailsText(r);
  if (!details.empty()) text += "\n\n" + details;
  return text;
}

}  // namespace orbelan
