#include "plugin/shared_memory.h"

#include "../hardening/figures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Tandem::CreateResult;
using Tandem::SharedMemoryCreator;

class SharedFile : public ::testing::Test
{
protected:
	void SetUp () override
	{
		char tmpl[] = "/tmp/qm_shm_test_XXXXXX";
		ASSERT_NE (::mkdtemp (tmpl), nullptr);
		dir = tmpl;
		path = dir + "/tandem_1.shm";
	}
	void TearDown () override
	{
		std::string cmd = "rm -rf '" + dir + "'";
		ASSERT_EQ (std::system (cmd.c_str ()), 0);
	}
	static off_t sizeOf (const std::string& p)
	{
		struct stat st
		{};
		return ::stat (p.c_str (), &st) == 0 ? st.st_size : -1;
	}
	static std::vector<char> readFile (const std::string& p)
	{
		std::ifstream in (p, std::ios::binary);
		return std::vector<char> (std::istreambuf_iterator<char> (in), {});
	}
	static void writeFile (const std::string& p, const std::vector<char>& bytes)
	{
		std::ofstream out (p, std::ios::binary);
		out.write (bytes.data (), static_cast<std::streamsize> (bytes.size ()));
	}
	template <typename T>
	static T at (const std::vector<char>& bytes, size_t offset)
	{
		T value;
		std::memcpy (&value, bytes.data () + offset, sizeof (T));
		return value;
	}
	std::string dir, path;
};

TEST_F (SharedFile, NewFileHasTheInitialLayoutAndIsPrivate)
{
	SharedMemoryCreator shm;
	const CreateResult r = shm.create (path);
	ASSERT_TRUE (r.success) << r.error;
	EXPECT_TRUE (r.error.empty ());
	EXPECT_TRUE (shm.isMapped ());

	struct stat st
	{};
	ASSERT_EQ (::stat (path.c_str (), &st), 0);
	EXPECT_EQ (st.st_size, 9832400);
	EXPECT_EQ (st.st_mode & 0777, 0600u);

	// Read back through the file, not the mapping: what outpost will see.
	const auto bytes = readFile (path);
	ASSERT_EQ (bytes.size (), 9832400u);
	EXPECT_EQ (at<int32_t> (bytes, 0), 5);       // command Idle
	EXPECT_EQ (at<int32_t> (bytes, 4), 0);       // editCount
	EXPECT_EQ (at<uint8_t> (bytes, 8), 1);       // processed
	EXPECT_EQ (at<uint64_t> (bytes, 16), 0u);    // parentWindow
	EXPECT_EQ (at<uint64_t> (bytes, 24), 0u);    // wineWindow
	EXPECT_EQ (at<int32_t> (bytes, 32), 800);    // editorWidth
	EXPECT_EQ (at<int32_t> (bytes, 36), 600);    // editorHeight
	EXPECT_EQ (at<int32_t> (bytes, 40), 0);      // inputReady
	EXPECT_EQ (at<int32_t> (bytes, 44), 0);      // outputReady
	EXPECT_EQ (at<int32_t> (bytes, 48), 0);      // audioReady
	EXPECT_EQ (at<int32_t> (bytes, 52), 0);      // numSamples
	EXPECT_EQ (at<int32_t> (bytes, 56), 2);      // numChannels
	EXPECT_EQ (at<double> (bytes, 64), 48000.0); // sampleRate
	EXPECT_EQ (at<uint8_t> (bytes, 524360), 0);  // stateReady
	EXPECT_EQ (at<int32_t> (bytes, 524364), 0);  // stateSize
	EXPECT_EQ (at<uint32_t> (bytes, 786512), Tandem::kSessionMagic);
	EXPECT_EQ (at<uint32_t> (bytes, 786516), Tandem::kSessionVersion);
	EXPECT_EQ (at<uint32_t> (bytes, 786520), 192u); // the session region's size
	EXPECT_EQ (at<uint32_t> (bytes, 786524), 0u);   // outpost has not spoken yet

	// The region pointers address the same bytes.
	auto* base = reinterpret_cast<char*> (shm.uiCommand ());
	EXPECT_EQ (reinterpret_cast<char*> (shm.audioData ()) - base, 40);
	EXPECT_EQ (reinterpret_cast<char*> (shm.stateData ()) - base, 524360);
	shm.audioData ()->outputBuffers[7][8191] = 1.5f;
	EXPECT_EQ (at<float> (readFile (path), 40 + 262176 + 7 * 32768 + 8191 * 4), 1.5f);

	shm.release ();
	EXPECT_FALSE (shm.isMapped ());
	EXPECT_EQ (shm.uiCommand (), nullptr);
	EXPECT_TRUE (shm.path ().empty ());
	EXPECT_EQ (sizeOf (path), -1) << "release unlinks the file";
}

TEST_F (SharedFile, MissingFolderFailsWithoutLeavingAFile)
{
	SharedMemoryCreator shm;
	const std::string missing = dir + "/no/such/dir/tandem.shm";
	const CreateResult r = shm.create (missing);
	EXPECT_FALSE (r.success);
	EXPECT_EQ (r.error.rfind ("open failed: ", 0), 0u) << r.error;
	EXPECT_GT (r.error.size (), std::strlen ("open failed: "));
	EXPECT_FALSE (shm.isMapped ());
	EXPECT_EQ (shm.audioData (), nullptr);
	shm.release ();
	EXPECT_EQ (sizeOf (missing), -1);
}

TEST_F (SharedFile, StaleFileOfOurOwnIsResizedAndReinitialised)
{
	std::vector<char> stale (1000000, static_cast<char> (0xAB));
	writeFile (path, stale);
	::chmod (path.c_str (), 0666);

	SharedMemoryCreator shm;
	ASSERT_TRUE (shm.create (path).success);
	const auto bytes = readFile (path);
	ASSERT_EQ (bytes.size (), 9832400u);
	EXPECT_EQ (at<int32_t> (bytes, 0), 5);
	EXPECT_EQ (at<int32_t> (bytes, 56), 2);
	EXPECT_EQ (at<float> (bytes, 72), 0.0f) << "audio buffers are cleared";
	EXPECT_EQ (at<int32_t> (bytes, 524364), 0) << "stateSize starts at 0";
	EXPECT_EQ (at<uint8_t> (bytes, 524368), 0xAB) << "stateBuffer is not cleared";
	struct stat st
	{};
	ASSERT_EQ (::stat (path.c_str (), &st), 0);
	EXPECT_EQ (st.st_mode & 0777, 0600u) << "a reused file is made private";
}

TEST_F (SharedFile, SecondCreateRemovesTheFirstFile)
{
	SharedMemoryCreator shm;
	ASSERT_TRUE (shm.create (path).success);
	const std::string second = dir + "/tandem_2.shm";
	ASSERT_TRUE (shm.create (second).success);
	EXPECT_EQ (sizeOf (path), -1);
	EXPECT_EQ (sizeOf (second), 9832400);
	EXPECT_EQ (shm.path (), second);
}

TEST_F (SharedFile, LinksAndOtherUsersFilesAreRefusedAndLeftAlone)
{
	// A link planted at the name must neither be followed nor removed.
	const std::string victim = dir + "/victim";
	writeFile (victim, std::vector<char> (10, 'v'));
	ASSERT_EQ (::symlink (victim.c_str (), path.c_str ()), 0);
	{
		SharedMemoryCreator shm;
		const CreateResult r = shm.create (path);
		EXPECT_FALSE (r.success);
		EXPECT_FALSE (r.error.empty ());
		EXPECT_FALSE (shm.isMapped ());
	}
	EXPECT_EQ (readFile (victim), std::vector<char> (10, 'v'));
	struct stat st
	{};
	EXPECT_EQ (::lstat (path.c_str (), &st), 0);
	EXPECT_TRUE (S_ISLNK (st.st_mode));
	::unlink (path.c_str ());

	// A directory (not a regular file) at the name.
	ASSERT_EQ (::mkdir (path.c_str (), 0700), 0);
	{
		SharedMemoryCreator shm;
		EXPECT_FALSE (shm.create (path).success);
	}
	ASSERT_EQ (::rmdir (path.c_str ()), 0);

	// A file that belongs to someone else (needs root to set up).
	if (::geteuid () != 0)
		GTEST_SKIP () << "needs root to create a file owned by another user";
	writeFile (path, std::vector<char> (20, 'x'));
	ASSERT_EQ (::chown (path.c_str (), 65534, 65534), 0);
	{
		SharedMemoryCreator shm;
		const CreateResult r = shm.create (path);
		EXPECT_FALSE (r.success);
		EXPECT_NE (r.error.find ("not a regular file owned by this user"), std::string::npos) << r.error;
	}
	EXPECT_EQ (readFile (path), std::vector<char> (20, 'x'));
}

// A real second account, made for the test and removed after it; only root
// can make one, and the test is skipped elsewhere.
struct OtherUser
{
	OtherUser () : name ("qm-shm-" + std::to_string (::getpid ()))
	{
		const std::string add = "useradd --system --no-create-home --shell /usr/sbin/nologin " + name;
		if (::geteuid () != 0 || std::system ((add + " >/dev/null 2>&1").c_str ()) != 0)
			return;
		if (const passwd* pw = ::getpwnam (name.c_str ()))
			uid = pw->pw_uid, gid = pw->pw_gid;
	}
	~OtherUser ()
	{
		if (uid != 0)
		{
			EXPECT_EQ (std::system (("userdel " + name).c_str ()), 0);
		}
	}
	// Runs `action` in a child process with this user's ids; the child's exit
	// code is its result.
	template <typename F>
	int run (F action) const
	{
		const pid_t pid = ::fork ();
		if (pid == 0)
		{
			if (::setgroups (0, nullptr) != 0 || ::setgid (gid) != 0 || ::setuid (uid) != 0)
				::_exit (100);
			::_exit (action ());
		}
		int status = 0;
		::waitpid (pid, &status, 0);
		return WIFEXITED (status) ? WEXITSTATUS (status) : 101;
	}
	std::string name;
	uid_t uid = 0;
	gid_t gid = 0;
};

TEST_F (SharedFile, AnotherUserCanNeitherPlantNorReadTheFile)
{
	OtherUser other;
	if (other.uid == 0)
		GTEST_SKIP () << "needs root and useradd to make a second user";
	ASSERT_EQ (::chmod (dir.c_str (), 01777), 0) << "a shared folder like /tmp";

	// A link the other user plants at the name, aimed at one of our files.
	const std::string ours = dir + "/ours";
	writeFile (ours, std::vector<char> (10, 'o'));
	ASSERT_EQ (other.run ([&] { return ::symlink (ours.c_str (), path.c_str ()); }), 0);
	EXPECT_FALSE (SharedMemoryCreator ().create (path).success);
	EXPECT_EQ (readFile (ours), std::vector<char> (10, 'o')) << "the link's target is untouched";
	ASSERT_EQ (::unlink (path.c_str ()), 0);

	// A file the other user makes readable to all, hoping we write audio into it.
	ASSERT_EQ (other.run ([&] {
		const int fd = ::open (path.c_str (), O_RDWR | O_CREAT | O_EXCL, 0666);
		return fd >= 0 && ::fchmod (fd, 0666) == 0 && ::write (fd, "planted", 7) == 7 ? 0 : 1;
	}),
	           0);
	{
		SharedMemoryCreator shm;
		const CreateResult r = shm.create (path);
		EXPECT_FALSE (r.success);
		EXPECT_NE (r.error.find ("not a regular file owned by this user"), std::string::npos) << r.error;
	}
	const std::vector<char> planted {'p', 'l', 'a', 'n', 't', 'e', 'd'};
	EXPECT_EQ (readFile (path), planted);
	ASSERT_EQ (::unlink (path.c_str ()), 0);

	// Our own file: the other user can open it neither to read nor to write.
	SharedMemoryCreator shm;
	ASSERT_TRUE (shm.create (path).success);
	EXPECT_EQ (other.run ([&] { return ::open (path.c_str (), O_RDONLY) < 0 && errno == EACCES ? 0 : 1; }), 0);
	EXPECT_EQ (other.run ([&] { return ::open (path.c_str (), O_RDWR) < 0 && errno == EACCES ? 0 : 1; }), 0);

	// The same from the other side: run as that user, we refuse a file of ours.
	EXPECT_EQ (other.run ([&] { return SharedMemoryCreator ().create (path).success ? 1 : 0; }), 0);
	EXPECT_TRUE (shm.isMapped ());
	EXPECT_EQ (sizeOf (path), 9832400) << "and leave it as it was";
	if (!HasFailure ())
		figures::report ("inputs", "shared file against a second user made by the test",
		                 "planted link and planted 0666 file refused and left alone; ours 0600, "
		                 "not opened by that user; that user refuses ours");
}

} // namespace
